// Tests of the program run: the question, the walk only on Yes, the closing notice in every case, and the
// exit code, with the exact texts and styles of both boxes, whatever the system's code page.
#include <string>
#include <vector>

#include "test_support.h"
#include "win_main.h"

namespace {

const char kQuestion[] =
    "\xBF" "Desea modificar las cuentas de correo de Vireska de Outlook y Outlook Express?\n"
    "Los cambios tendr\xE1n efecto la pr\xF3xima vez que ejecute el programa de correo.";
const char kAccount[] = FIRST_STORE "\\00000001";

struct RunCase {
    const char* what;
    int answer;
    bool hostedAccount;
    std::vector<std::string> texts;  // every box in order, after the question
    UINT ansiCodePage = 1252;        // the system's: the texts show the same under any
};

const RunCase kRunCases[] = {
    {"No leaves the account alone", IDNO, true, {"Proceso finalizado."}},
    {"Yes updates the account", IDYES, true,
     {"Se ha actualizado correctamente la cuenta Correo Ana.", "Proceso finalizado."}},
    {"Yes with no accounts", IDYES, false, {"Proceso finalizado."}},
    {"question box failing to show changes nothing", 0, true, {"Proceso finalizado."}},
    {"the same texts on a Cyrillic system", IDYES, true,
     {"Se ha actualizado correctamente la cuenta Correo Ana.", "Proceso finalizado."}, 1251},
};

void PrintTo(const RunCase& c, std::ostream* out) { *out << c.what; }

class ProgramRun : public StandinTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(ProgramRun, AsksWalksAndCloses)
{
    const RunCase& c = GetParam();
    standin::SetAnsiCodePage(c.ansiCodePage);
    if (c.hostedAccount) StoreHostedAccount(kAccount, "Correo Ana");
    const std::string before = standin::Dump("HKCU") + standin::Dump("HKLM");
    standin::ScriptAnswers({c.answer});

    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);

    const std::vector<standin::Box>& boxes = standin::Boxes();
    ASSERT_EQ(boxes.size(), c.texts.size() + 1);
    EXPECT_EQ(boxes[0].text, Wide(kQuestion));
    EXPECT_EQ(boxes[0].style, 0x24u);
    EXPECT_EQ(boxes[0].answer, c.answer);
    const standin::Box& last = boxes.back();
    EXPECT_EQ(last.style, 0x40u);
    for (size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(boxes[i].owner, nullptr);
        EXPECT_EQ(boxes[i].caption, Wide(kAtencion));
        if (i > 0) {
            EXPECT_EQ(boxes[i].text, Wide(c.texts[i - 1]));
        }
    }
    const bool changed = before != standin::Dump("HKCU") + standin::Dump("HKLM");
    EXPECT_EQ(changed, c.answer == IDYES && c.hostedAccount);
    if (c.answer != IDYES) {
        EXPECT_EQ(standin::HandlesOpened(), 0) << "No must not even open the registry";
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, ProgramRun, ::testing::ValuesIn(kRunCases),
                         CaseName());

}  // namespace
