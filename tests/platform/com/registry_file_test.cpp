#include "platform/com/registry_file.h"

#include <gtest/gtest.h>

TEST(RegistryFile, SerializesSortedWithDefaultAndNamedValues) {
    RegistryFile f;
    f.SetValue("HKCR\\CLSID\\{X}\\InprocServer32", "", "/lib/a.so");
    f.SetValue("HKCR\\CLSID\\{X}\\InprocServer32", "ThreadingModel", "Apartment");
    f.CreateKey("HKCR\\CLSID\\{X}\\Programmable");
    f.SetValue("HKCR\\App.Class", "", "App Class");
    f.SetValue("HKCR\\App.Class\\CLSID", "", "{X}");
    f.SetValue("HKCR\\App.Class\\Empty", "", "");
    EXPECT_EQ(f.Serialize(),
              "HKCR\\App.Class = App Class\n"
              "HKCR\\App.Class\\CLSID = {X}\n"
              "HKCR\\App.Class\\Empty = \n"
              "HKCR\\CLSID\\{X}\\InprocServer32 = /lib/a.so\n"
              "HKCR\\CLSID\\{X}\\InprocServer32 [ThreadingModel] = Apartment\n"
              "HKCR\\CLSID\\{X}\\Programmable\n");
    RegistryFile back;
    ASSERT_TRUE(RegistryFile::Parse(f.Serialize(), &back, nullptr));
    EXPECT_EQ(back.Serialize(), f.Serialize());
    std::string v;
    EXPECT_EQ(back.GetValue("HKCR\\App.Class\\Empty", "", &v), RegistryFile::Lookup::found);
    EXPECT_EQ(v, "");
}

TEST(RegistryFile, KeysAndNamesIgnoreCaseButKeepTheFirstSpelling) {
    RegistryFile f;
    f.SetValue("HKCR\\Foo.Bar", "", "1");
    f.SetValue("hkcr\\FOO.BAR", "", "2");
    f.SetValue("HKCR\\Foo.Bar\\", "Model", "a");
    f.SetValue("HKCR\\foo.bar", "MODEL", "b");
    EXPECT_EQ(f.Serialize(), "HKCR\\Foo.Bar = 2\nHKCR\\Foo.Bar [Model] = b\n");
    std::string v;
    EXPECT_EQ(f.GetValue("HKCR\\FOO.bar", "model", &v), RegistryFile::Lookup::found);
    EXPECT_EQ(v, "b");
}

TEST(RegistryFile, LookupTellsMissingKeyFromMissingValue) {
    RegistryFile f;
    f.SetValue("HKCR\\A\\B\\C", "", "x");
    std::string v = "untouched";
    EXPECT_EQ(f.GetValue("HKCR\\A\\B", "", &v), RegistryFile::Lookup::no_value);  // exists as a parent
    EXPECT_EQ(f.GetValue("HKCR\\A\\B\\C", "Named", &v), RegistryFile::Lookup::no_value);
    EXPECT_EQ(f.GetValue("HKCR\\A\\X", "", &v), RegistryFile::Lookup::no_key);
    EXPECT_EQ(v, "untouched");
    EXPECT_TRUE(f.KeyExists("hkcr\\a"));
    EXPECT_FALSE(f.KeyExists("HKCR\\A\\B\\C\\D"));
    EXPECT_FALSE(f.KeyExists("HKCR\\A\\B\\"  "C2"));
}

TEST(RegistryFile, DeleteTreeTakesTheKeyAndEverythingBelowOnly) {
    RegistryFile f;
    f.SetValue("HKCR\\CLSID\\{A}", "", "a");
    f.SetValue("HKCR\\CLSID\\{A}\\InprocServer32", "ThreadingModel", "Both");
    f.CreateKey("HKCR\\CLSID\\{A}\\Programmable");
    f.SetValue("HKCR\\CLSID\\{A}2", "", "sibling with a common prefix");
    f.SetValue("HKCR\\CLSID\\{B}", "", "b");
    EXPECT_TRUE(f.DeleteTree("hkcr\\clsid\\{a}"));
    EXPECT_FALSE(f.DeleteTree("HKCR\\CLSID\\{A}"));
    EXPECT_EQ(f.Serialize(), "HKCR\\CLSID\\{A}2 = sibling with a common prefix\nHKCR\\CLSID\\{B} = b\n");
    EXPECT_EQ(f.Subkeys("HKCR\\CLSID"), (std::vector<std::string>{"{A}2", "{B}"}));
}

TEST(RegistryFile, ValidatesKeysNamesAndValues) {
    EXPECT_TRUE(RegistryFile::ValidKey("HKCR\\TARVOSrv1.Quill1\\CLSID"));
    EXPECT_TRUE(RegistryFile::ValidKey("HKCR\\TypeLib\\{X}\\1.0\\0\\linux"));
    for (const char* bad : {"", "\\", "HKCR\\\\x", "HKCR\\a=b", "HKCR\\a[b]", "HKCR\\ a", "HKCR\\a \\b",
                            "HKCR\\a\nb", "HKCR\\a\tb"})
        EXPECT_FALSE(RegistryFile::ValidKey(bad)) << bad;
    EXPECT_TRUE(RegistryFile::ValidName(""));
    EXPECT_FALSE(RegistryFile::ValidName("a]b"));
    EXPECT_TRUE(RegistryFile::ValidValue("C:\\path with = and [brackets]\t"));
    EXPECT_FALSE(RegistryFile::ValidValue("two\nlines"));
    EXPECT_FALSE(RegistryFile::ValidValue("cr\r"));
}

TEST(RegistryFile, ParseAcceptsCommentsAndValuesWithSpecialCharacters) {
    RegistryFile f;
    ASSERT_TRUE(RegistryFile::Parse("# comment\n\nHKCR\\K = a = b [c]  \r\nHKCR\\K [N] =\nHKCR\\Bare\n", &f, nullptr));
    std::string v;
    ASSERT_EQ(f.GetValue("HKCR\\K", "", &v), RegistryFile::Lookup::found);
    EXPECT_EQ(v, "a = b [c]  ");
    ASSERT_EQ(f.GetValue("HKCR\\K", "N", &v), RegistryFile::Lookup::found);
    EXPECT_EQ(v, "");
    EXPECT_TRUE(f.KeyExists("HKCR\\Bare"));
}

TEST(RegistryFile, ParseNamesTheFirstBadLine) {
    for (const char* bad : {"HKCR\\K=v", "HKCR\\K [N = v", "HKCR\\K [] = v", "HKCR\\K [N]= v", "HKCR\\K =v",
                            "HKCR\\\\K = v", "HKCR\\K [N] x = v"}) {
        int line = 0;
        RegistryFile f;
        f.SetValue("HKCR\\Keep", "", "1");
        std::string text = std::string("HKCR\\Ok = 1\n") + bad + "\n";
        EXPECT_FALSE(RegistryFile::Parse(text, &f, &line)) << bad;
        EXPECT_EQ(line, 2) << bad;
        EXPECT_TRUE(f.KeyExists("HKCR\\Keep"));  // untouched on failure
    }
}

TEST(RegistryFile, KeyStartingWithHashIsRefusedSinceItWouldReadBackAsAComment) {
    EXPECT_FALSE(RegistryFile::ValidKey("#HKCR\\A"));
    EXPECT_FALSE(RegistryFile::ValidKey("#"));
    EXPECT_TRUE(RegistryFile::ValidKey("HKCR\\#A"));  // only the line's first byte matters
    RegistryFile f;
    f.SetValue("HKCR\\#A", "", "kept");
    RegistryFile back;
    ASSERT_TRUE(RegistryFile::Parse(f.Serialize(), &back, nullptr));
    std::string v;
    EXPECT_EQ(back.GetValue("HKCR\\#A", "", &v), RegistryFile::Lookup::found);
    EXPECT_EQ(v, "kept");
}

TEST(RegistryFile, SubkeysListsEachChildOnceEvenWhenASiblingSortsBetweenItsDescendants) {
    RegistryFile f;
    ASSERT_TRUE(RegistryFile::Parse("HKCR\\TypeLib\\{X}\\1.0 = Lib\n"
                                    "HKCR\\TypeLib\\{X}\\1.0\\0\\linux = /lib/a.so\n"
                                    "HKCR\\TypeLib\\{X}\\1.01\\0\\linux = /lib/b.so\n"
                                    "HKCR\\A\\b\\c\n"
                                    "HKCR\\A\\B!\n"
                                    "HKCR\\A\\B d\n",
                                    &f, nullptr));
    EXPECT_EQ(f.Subkeys("HKCR\\TypeLib\\{X}"), (std::vector<std::string>{"1.0", "1.01"}));
    EXPECT_EQ(f.Subkeys("hkcr\\a"), (std::vector<std::string>{"b", "B d", "B!"}));
}
