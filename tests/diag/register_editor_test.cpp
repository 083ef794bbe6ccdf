// The register editor against a simulated 9050: the screen, what each answer writes to the bridge
// (seen in the model's log of register writes), silent redraws, and the input rules.
#include <string>
#include <vector>

#include "diag_fixture.h"

namespace diag_test {
namespace {

using Write = sim::Plx9050::RegisterWrite;

// The editor's screen for a card at reset (memory BAR2 at local 0x10000, I/O BAR3 at local 0, no
// EEPROM: CNTRL shows the pulled-up data-out pin), and its prompt.
const std::string kScreen =
    "\n"
    "Edit PLX 9050 registers\n"
    "--------------------------------\n"
    " 1.  LAS0RR : 0fffff00     12. LAS1BRD : 00000000     \n"
    " 2.  LAS1RR : 0fffff01     13. LAS2BRD : 00000000     \n"
    " 3.  LAS2RR : 00000000     14. LAS3BRD : 00000000     \n"
    " 4.  LAS3RR : 00000000     15. EROMBRD : 00000000     \n"
    " 5.  EROMRR : 00000000     16. CS0BASE : 00000000     \n"
    " 6.  LAS0BA : 00010001     17. CS1BASE : 00000000     \n"
    " 7.  LAS1BA : 00000001     18. CS2BASE : 00000000     \n"
    " 8.  LAS2BA : 00000000     19. CS3BASE : 00000000     \n"
    " 9.  LAS3BA : 00000000     20.  INTCSR : 00000000     \n"
    "10.  EROMBA : 00000000     21.   CNTRL : 08000000     \n"
    "11. LAS0BRD : 00000000     \n"
    "99. Back to main menu\n"
    "Choose register to write to, or 99 to exit: ";

const std::string kValuePrompt = "Enter value to write to CS0BASE register (or 'X' to cancel): ";
const std::string kNoValue = "Error: no hexadecimal value given; nothing written\n";

// kScreen with the shown values of some registers replaced.
std::string ScreenWith(std::initializer_list<std::pair<std::string, std::string>> values) {
  std::string screen = kScreen;
  for (const auto& [name, value] : values) {
    const std::string key = name + " : ";
    screen.replace(screen.find(key) + key.size(), 8, value);
  }
  return screen;
}

class RegisterEditorTest : public DiagTest {
 protected:
  void SetUp() override {
    card_ = &AddCard(IoRegisters());
    handle_ = Open();
    card_->ClearRegisterWrites();
  }
  sim::Plx9050* card_ = nullptr;
  P9050_Handle* handle_ = nullptr;
};

TEST_F(RegisterEditorTest, SessionWritesRegistersAndShowsThemReadBack) {
  // 21 is CNTRL, the last entry; the read-back shows the model's read-only bits (CNTRL's data-out
  // pin, LAS3BA's unused bits).
  ExpectSession(kScreen +
                    "«21»\n"
                    "Enter value to write to CNTRL register (or 'X' to cancel): «5»\n" +
                    ScreenWith({{"CNTRL", "08000005"}}) +
                    "«9»\n"
                    "Enter value to write to LAS3BA register (or 'X' to cancel): «  ABCDEF12 x»\n" +
                    ScreenWith({{"CNTRL", "08000005"}, {"LAS3BA", "0bcdef10"}}) + "«99»\n",
                [&] { P9050Diag_EditRegisters(handle_); });
  EXPECT_EQ(card_->register_writes(),
            (std::vector<Write>{{0, P9050_CNTRL, 0x5}, {0, P9050_LAS3BA, 0xABCDEF12}}));
}

struct EditorCase {
  const char* name;
  std::string session;  // after the first screen
  std::vector<Write> writes;
};

void PrintTo(const EditorCase& c, std::ostream* os) {
  *os << c.name;
}

class EditorAnswerTest : public RegisterEditorTest,
                         public ::testing::WithParamInterface<EditorCase> {};

TEST_P(EditorAnswerTest, WritesExactlyWhatTheAnswerSays) {
  ExpectSession(kScreen + GetParam().session, [&] { P9050Diag_EditRegisters(handle_); });
  EXPECT_EQ(card_->register_writes(), GetParam().writes);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, EditorAnswerTest,
    ::testing::Values(
        // Numbers the editor does not offer redraw it with no prompt and no message.
        EditorCase{"Zero", "«0»\n" + kScreen + "«99»\n", {}},
        EditorCase{"TwentyTwo", "«22»\n" + kScreen + "«99»\n", {}},
        EditorCase{"MinusOne", "«-1»\n" + kScreen + "«99»\n", {}},
        EditorCase{"Word", "«registers»\n" + kScreen + "«99»\n", {}},
        EditorCase{"EmptyLine", "«»\n" + kScreen + "«99»\n", {}},
        // At the value prompt x or X cancels; a line without a number (a blank before the X
        // makes it no cancel) or with one beyond 32 bits writes nothing and says so.
        EditorCase{"EmptyValueWritesNothing",
                   "«16»\n" + kValuePrompt + "«»\n" + kNoValue + kScreen + "«99»\n",
                   {}},
        EditorCase{"LowerXCancels", "«16»\n" + kValuePrompt + "«x»\n" + kScreen + "«99»\n", {}},
        EditorCase{"UpperXCancels", "«16»\n" + kValuePrompt + "«X1234»\n" + kScreen + "«99»\n", {}},
        EditorCase{"BlankThenXWritesNothing",
                   "«16»\n" + kValuePrompt + "« X»\n" + kNoValue + kScreen + "«99»\n",
                   {}},
        EditorCase{"WordWritesNothing",
                   "«16»\n" + kValuePrompt + "«zz»\n" + kNoValue + kScreen + "«99»\n",
                   {}},
        EditorCase{"SignOnlyWritesNothing",
                   "«16»\n" + kValuePrompt + "«-»\n" + kNoValue + kScreen + "«99»\n",
                   {}},
        EditorCase{"BeyondThirtyTwoBitsWritesNothing",
                   "«21»\nEnter value to write to CNTRL register (or 'X' to cancel): «1ffffffff»\n"
                   "Error: value too big for register\n" +
                       kScreen + "«99»\n",
                   {}},
        // The editor goes on after a refusal: the next answer is written.
        EditorCase{"WritesAfterARefusal",
                   "«16»\n" + kValuePrompt + "«zz»\n" + kNoValue + kScreen + "«16»\n" +
                       kValuePrompt + "«7f»\n" + ScreenWith({{"CS0BASE", "0000007f"}}) + "«99»\n",
                   {{0, P9050_CS0BASE, 0x7F}}},
        EditorCase{
            "HexValue",
            "«16»\n" + kValuePrompt + "«7f»\n" + ScreenWith({{"CS0BASE", "0000007f"}}) + "«99»\n",
            {{0, P9050_CS0BASE, 0x7F}}},
        // The end of input leaves the editor as 99 does, at either prompt, writing nothing.
        EditorCase{"EndOfInputAtNumber", "", {}},
        EditorCase{"EndOfInputAtValue", "«16»\n" + kValuePrompt, {}}),
    [](const ::testing::TestParamInfo<EditorCase>& info) { return std::string(info.param.name); });

// A 300-character line is read in pieces of at most 255 characters: the register number comes
// from the first piece and the value from the rest of the line. Where the cut falls decides what
// is written: at 254 the value line would start with 'z' (writes nothing), at 256 with 'f'
// (writes 0xf), and reading whole lines would take "99" as the value.
TEST_F(RegisterEditorTest, LongLineIsSplitAt255Characters) {
  const std::string line = "16" + std::string(253, 'z') + "7f" + std::string(43, 'z');
  ASSERT_EQ(line.size(), 300u);
  ExpectSession(kScreen + "«" + line + "»\n" + kValuePrompt +
                    ScreenWith({{"CS0BASE", "0000007f"}}) + "«99»\n",
                [&] { P9050Diag_EditRegisters(handle_); });
  EXPECT_EQ(card_->register_writes(), (std::vector<Write>{{0, P9050_CS0BASE, 0x7F}}));
}

}  // namespace
}  // namespace diag_test
