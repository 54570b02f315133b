#include "run/desktop_shell.h"
#include "run/desktop_shell_seams.h"

#include "common/unique_any.h"
#include "run/com_apartment.h"

#include <windows.h>

#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include <memory>

namespace {

template <typename Interface> void releaseInterface(Interface* object)
{
    object->Release();
}
template <typename Interface> using ComPtr = UniqueAny<Interface*, &releaseInterface<Interface>>;

template <typename Interface> void** asOut(ComPtr<Interface>& pointer)
{
    return reinterpret_cast<void**>(pointer.put());
}

using UniqueBstr = UniqueAny<BSTR, &SysFreeString>;

VARIANT emptyVariant()
{
    VARIANT variant;
    VariantInit(&variant);
    return variant;
}

// A VARIANT that holds a string it does not own: the call only reads it.
VARIANT textVariant(BSTR text)
{
    VARIANT variant = emptyVariant();
    variant.vt = VT_BSTR;
    variant.bstrVal = text;
    return variant;
}

VARIANT numberVariant(long number)
{
    VARIANT variant = emptyVariant();
    variant.vt = VT_I4;
    variant.lVal = number;
    return variant;
}

// The desktop's own folder window (the shell's, running as the signed-in user), as
// its automation object: the shell's documented way to act in the user's name.
bool findDesktopShell(ComPtr<IShellDispatch2>& shell)
{
    ComPtr<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                asOut(windows))))
        return false;
    VARIANT desktop = numberVariant(CSIDL_DESKTOP);
    VARIANT noRoot = emptyVariant();
    long window = 0;
    ComPtr<IDispatch> found;
    if (windows->FindWindowSW(&desktop, &noRoot, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                              found.put()) != S_OK ||
        !found)
        return false;
    ComPtr<IServiceProvider> services;
    ComPtr<IShellBrowser> browser;
    ComPtr<IShellView> view;
    ComPtr<IDispatch> background;
    ComPtr<IShellFolderViewDual> folderView;
    ComPtr<IDispatch> application;
    return SUCCEEDED(found->QueryInterface(IID_IServiceProvider, asOut(services))) &&
           SUCCEEDED(
               services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, asOut(browser))) &&
           SUCCEEDED(browser->QueryActiveShellView(view.put())) &&
           SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, asOut(background))) &&
           SUCCEEDED(background->QueryInterface(IID_IShellFolderViewDual, asOut(folderView))) &&
           SUCCEEDED(folderView->get_Application(application.put())) &&
           SUCCEEDED(application->QueryInterface(IID_IShellDispatch2, asOut(shell)));
}

} // namespace

namespace {

// What the shell's thread is given, and what it answers; shared, since the thread may
// outlive the call that started it.
struct ShellStart {
    ShellCall call;
    std::wstring program;
    std::wstring workDir;
    bool started = false;
};

bool startInShell(const std::wstring& program, const std::wstring& workDir)
{
    const ComApartment apartment = enterComApartment();
    ComPtr<IShellDispatch2> shell;
    if (!apartment.get() || !findDesktopShell(shell))
        return false;
    const UniqueBstr file(SysAllocString(program.c_str()));
    const UniqueBstr folder(SysAllocString(workDir.c_str()));
    const UniqueBstr verb(SysAllocString(L"open"));
    if (!file || !folder || !verb)
        return false;
    return SUCCEEDED(shell->ShellExecute(file.get(), emptyVariant(), textVariant(folder.get()),
                                         textVariant(verb.get()), numberVariant(SW_SHOWNORMAL)));
}

DWORD WINAPI shellThread(void* parameter)
{
    const std::unique_ptr<std::shared_ptr<ShellStart>> start(
        static_cast<std::shared_ptr<ShellStart>*>(parameter));
    ShellStart& request = **start;
    request.started = request.call(request.program, request.workDir);
    return 0;
}

} // namespace

ShellAnswer startThroughDesktopShell(const std::wstring& program, const std::wstring& workDir,
                                     DWORD deadlineMs)
{
    return startThroughDesktopShell(program, workDir, deadlineMs, startInShell);
}

ShellAnswer startThroughDesktopShell(const std::wstring& program, const std::wstring& workDir,
                                     DWORD deadlineMs, ShellCall call)
{
    const auto start = std::make_shared<ShellStart>();
    start->call = call;
    start->program = program;
    start->workDir = workDir;
    auto parameter = std::make_unique<std::shared_ptr<ShellStart>>(start);
    const UniqueHandle thread(CreateThread(nullptr, 0, shellThread, parameter.get(), 0, nullptr));
    if (!thread)
        return ShellAnswer::Refused;
    parameter.release(); // the thread's now
    if (WaitForSingleObject(thread.get(), deadlineMs) != WAIT_OBJECT_0)
        return ShellAnswer::Late;
    // The thread has ended: its answer is written, and seen through the wait.
    return start->started ? ShellAnswer::Started : ShellAnswer::Refused;
}
