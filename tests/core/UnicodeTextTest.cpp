#include "core/UnicodeText.h"

#include <gtest/gtest.h>

namespace tactimo {
namespace {

TEST(UnicodeText, CanonicalFormMakesEquivalentNamesEqual) {
    EXPECT_EQ(canonicalText("Drum Machine 1"), "Drum Machine 1");
    EXPECT_EQ(canonicalText("Cafe\xCC\x81"), "Caf\xC3\xA9"); // e + combining acute -> é
    EXPECT_EQ(canonicalText("Caf\xC3\xA9"), "Caf\xC3\xA9");
    EXPECT_EQ(canonicalText("\xE2\x84\xAB"), "\xC3\x85"); // Angstrom sign -> Å (canonical, not compatibility)
    EXPECT_EQ(canonicalText("\xEF\xAC\x81"), "\xEF\xAC\x81"); // the ligature fi stays: NFC, not NFKC
    EXPECT_EQ(canonicalText(""), "");
}

TEST(UnicodeText, InvalidBytesBecomeReplacementCharacters) {
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(canonicalText("A\xFF" "B"), "A" + fffd + "B");
    EXPECT_EQ(canonicalText("\xC3"), fffd); // cut-off sequence
    EXPECT_EQ(canonicalText("\xED\xA0\x80"), fffd + fffd + fffd); // encoded surrogate
    EXPECT_EQ(canonicalText("x\xC0\xAF"), "x" + fffd + fffd);     // overlong '/'
    // Whatever comes out is valid and already canonical.
    const std::string once = canonicalText("\x80\xE2\x84\xAB\xF5 e\xCC\x81");
    EXPECT_EQ(canonicalText(once), once);
}

} // namespace
} // namespace tactimo
