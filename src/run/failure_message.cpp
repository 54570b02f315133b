#include "run/failure_message.h"

#include "common/run_state.h"

#include <windows.h>

void showFailureMessage(const std::wstring& concerned)
{
    const std::wstring text =
        L"При обновлении не удалось заменить файл на новый!\nФайл: " + concerned +
        L"\nПопробуйте снова, либо переместите все файлы из \"resources\\update\" в корень "
        L"лаунчера вручную.";
    MessageBoxW(nullptr, text.c_str(), updaterTitle, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}
