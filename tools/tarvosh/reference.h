// What tarvosh can tell about a component from its type library and a live
// object: the method list (--methods) and a whole interface reference in
// Markdown (--reference FILE), with the defaults a new object reports for
// each line type, and the type library as IDL (--typelib FILE). Each answers
// an exit status (0 done, 2 the file could not be written, 3 no object).
#pragma once

#include <string>

namespace tarvosh {

int PrintMethods(const std::string& progid);
int WriteReference(const std::string& progid, const std::string& path);
// The type library as an IDL text: its interfaces with their dispatch ids,
// parameters and help strings, the enumerations and the class.
int WriteTypeLibrary(const std::string& progid, const std::string& path);

}  // namespace tarvosh
