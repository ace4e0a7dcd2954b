// Directory listing of the shared library on Windows.
#include "zqshared/zqDirListing.h"

#include "zqshared/zqWindows.h"

QStringList zqPlainFileNames(const QString& directory, const std::function<bool(const QString&)>& wanted)
{
    QStringList names;
    std::wstring folder = zqWidePath(directory.isEmpty() ? QStringLiteral(".\\") : directory);
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/')
        folder += L'\\';
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileExW((folder + L"*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
    {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        QString name = QString::fromWCharArray(entry.cFileName);
        bool    keep = wanted(name);
        // A link is listed when it names a plain file, as on Linux.
        if (keep && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        {
            DWORD attributes = ::GetFileAttributesW((folder + entry.cFileName).c_str());
            keep = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        }
        if (keep)
            names.append(name);
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    return names;
}
