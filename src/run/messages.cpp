#include "run/messages.h"

#include <windows.h>

namespace {

const wchar_t* const updaterTitle = L"Qorvath Launcher Updater";

} // namespace

int showRetryPrompt()
{
    return MessageBoxW(nullptr,
                       L"Для обновления лаунчера необходимы права администратора\n"
                       L"Нажмите ОК для повтора",
                       updaterTitle, MB_OKCANCEL | MB_ICONWARNING | MB_SETFOREGROUND);
}

void showFailureMessage(const std::wstring& concerned)
{
    const std::wstring text =
        L"При обновлении не удалось заменить файл на новый!\nФайл: " + concerned +
        L"\nПопробуйте снова, либо переместите все файлы из \"resources\\update\" в корень "
        L"лаунчера вручную.";
    MessageBoxW(nullptr, text.c_str(), updaterTitle, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

void showStartLauncherMessage(const std::wstring& launcher)
{
    // "If it has not opened": a desktop shell that answered late may still start it.
    const std::wstring text = L"Обновление установлено, но запустить лаунчер не удалось.\n"
                              L"Если он не открылся, запустите его вручную:\n" +
                              launcher;
    MessageBoxW(nullptr, text.c_str(), updaterTitle, MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
}
