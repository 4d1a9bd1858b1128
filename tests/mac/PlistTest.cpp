// Finding a bundle's executable in its Info.plist, and refusing names that would lead the host
// outside the bundle.
#include <gtest/gtest.h>

#include <string>

#include "Host/MacBundle.h"
#include "Host/OmbrelHost.h"

namespace {

std::string plist(const std::string& dict) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + dict +
           "</dict>\n</plist>\n";
}

std::string executableOrError(const std::string& text) {
    try {
        return OmbrelHost::bundleExecutable(text);
    } catch (const OmbrelHost::HostError& e) {
        return std::string("error: ") + e.what();
    }
}

TEST(BundleExecutable, ReadsTheNameWhereverTheKeyStands) {
    struct Case {
        const char* what;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"usual", plist("\t<key>CFBundleExecutable</key>\n\t<string>Effect</string>\n"), "Effect"},
        {"after other keys",
         plist("<key>CFBundleName</key><string>Other</string>\n"
               "<key>CFBundleExecutable</key><string>Effect</string>\n"),
         "Effect"},
        {"blanks and a comment between key and value",
         plist("<key>CFBundleExecutable</key>\n  <!-- the binary -->\n  <string>Effect</string>"),
         "Effect"},
        {"a commented-out key first",
         plist("<!-- <key>CFBundleExecutable</key><string>Old</string> -->\n"
               "<key>CFBundleExecutable</key><string>New</string>"),
         "New"},
        {"entities", plist("<key>CFBundleExecutable</key><string>A&amp;B &lt;1&gt;</string>"),
         "A&B <1>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(executableOrError(c.text), c.expected) << c.what;
}

TEST(BundleExecutable, RefusesAPlistWithoutAUsableName) {
    struct Case {
        const char* what;
        std::string text;
        const char* message;
    };
    const Case cases[] = {
        {"no key", plist("<key>CFBundleName</key><string>Effect</string>"),
         "no CFBundleExecutable"},
        {"only a commented key", plist("<!-- <key>CFBundleExecutable</key> -->"),
         "no CFBundleExecutable"},
        {"not a string", plist("<key>CFBundleExecutable</key><true/>"),
         "not followed by a <string>"},
        {"unclosed", "<key>CFBundleExecutable</key><string>Effect", "is not closed"},
        {"empty", plist("<key>CFBundleExecutable</key><string></string>"),
         "is not a file name within the bundle"},
        {"parent", plist("<key>CFBundleExecutable</key><string>..</string>"),
         "is not a file name within the bundle"},
        {"a path out", plist("<key>CFBundleExecutable</key><string>../../../lib/x</string>"),
         "is not a file name within the bundle"},
        {"a Windows path", plist("<key>CFBundleExecutable</key><string>a\\b</string>"),
         "is not a file name within the bundle"},
    };
    for (const Case& c : cases) {
        const std::string result = executableOrError(c.text);
        EXPECT_EQ(result.rfind("error: ", 0), 0u) << c.what << ": " << result;
        EXPECT_NE(result.find(c.message), std::string::npos) << c.what << ": " << result;
    }
}

} // namespace
