// The program run: asks the one question, walks the account stores on Yes, and ends with the closing notice.
#include "win_api.h"

#include "account_stores.h"
#include "account_update.h"
#include "win_main.h"

namespace {

const char kQuestion[] =
    "\xBF"
    "Desea modificar las cuentas de correo de Vireska de Outlook y Outlook Express?\n"
    "Los cambios tendr\xE1n efecto la pr\xF3xima vez que ejecute el programa de correo.";
const char kClosingNotice[] = "Proceso finalizado.";

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showState)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)showState;
    if (ShowMessage(kQuestion, kNoticeCaption, MB_YESNO | MB_ICONQUESTION) == IDYES) UpdateAllStores();
    ShowMessage(kClosingNotice, kNoticeCaption, MB_OK | MB_ICONINFORMATION);
    return 0;
}
