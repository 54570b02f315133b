#include "update/durability.h"

#include "common/unique_any.h"
#include "common/win32_text.h"
#include "fs/fs_error.h"
#include "fs/path_text.h"
#include "update/in_folder.h"

#include <algorithm>

namespace {

bool holds(const std::vector<std::wstring>& volumes, const std::wstring& volume)
{
    return std::any_of(volumes.begin(), volumes.end(),
                       [&volume](const std::wstring& held) { return sameFinalPath(held, volume); });
}

std::wstring volumePathOf(const std::wstring& path)
{
    std::wstring volume;
    if (!queryText(
            [&path](wchar_t* buffer, DWORD capacity) {
                return GetVolumePathNameW(path.c_str(), buffer, capacity) ? lstrlenW(buffer) + 1u
                                                                          : 0u;
            },
            volume))
        return {};
    volume.pop_back(); // the terminating zero that the length above counted
    return volume;
}

} // namespace

bool flushVolume(const std::wstring& volumePath)
{
    wchar_t device[MAX_PATH] = {};
    if (!GetVolumeNameForVolumeMountPointW(volumePath.c_str(), device, MAX_PATH))
        return false;
    // "\\?\Volume{...}\" names the volume's root folder; without the last backslash,
    // the volume itself, which an administrator may open and flush.
    std::wstring volume = device;
    if (!volume.empty() && volume.back() == L'\\')
        volume.pop_back();
    const UniqueFileHandle handle(CreateFileW(volume.c_str(), GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
    return handle && FlushFileBuffers(handle.get());
}

void noteMoveInto(Durability& durability, const std::wstring& exactFolder)
{
    const std::wstring volume = volumePathOf(exactFolder);
    if (!volume.empty() && !holds(durability.volumes, volume))
        durability.volumes.push_back(volume);
}

void flushAfterLastMove(Durability& durability)
{
    for (const std::wstring& volume : durability.volumes)
        durability.flushVolume(volume);
    for (auto& [file, dest] : durability.deleteAfterFlush) {
        if (!deleteOpened(file.get()))
            throw FileSystemError(operation::remove, GetLastError(), dest);
        file.reset();
    }
    durability.deleteAfterFlush.clear();
}

bool flushFile(HANDLE file)
{
    return FlushFileBuffers(file) != FALSE;
}
