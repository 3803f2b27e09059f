// The "C" locale as an object, so number texts are read and written with "."
// as the decimal point whatever locale the host process has chosen.
#pragma once

#include <locale.h>

namespace tarvo {

locale_t c_locale();

// Makes the calling thread use the "C" locale for its lifetime.
class ScopedCLocale {
public:
    ScopedCLocale() : previous_(uselocale(c_locale())) {}
    ~ScopedCLocale() { uselocale(previous_); }
    ScopedCLocale(const ScopedCLocale&) = delete;
    ScopedCLocale& operator=(const ScopedCLocale&) = delete;

private:
    locale_t previous_;
};

}  // namespace tarvo
