// Directory listing of the shared library on Windows.
#include "zqshared/zqDirListing.h"

#include "zqshared/zqWindows.h"

void zqDirListing::addEndsWithFilter(const QString& suffix)
{
    m_filters.append(suffix);
}

void zqDirListing::init(const QString& directory, bool, bool, bool, bool)
{
    m_names.clear();
    m_current = -1;
    std::wstring folder = zqWidePath(directory.isEmpty() ? QStringLiteral(".\\") : directory);
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/')
        folder += L'\\';
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileExW((folder + L"*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
    {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        QString name = QString::fromWCharArray(entry.cFileName);
        bool    wanted = m_filters.isEmpty();
        for (const QString& filter : m_filters)
            wanted = wanted || name.endsWith(filter, Qt::CaseInsensitive);
        // A link is listed when it names a plain file, as on Linux.
        if (wanted && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        {
            DWORD attributes = ::GetFileAttributesW((folder + entry.cFileName).c_str());
            wanted = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        }
        if (wanted)
            m_names.append(name);
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
}

bool zqDirListing::nextFile()
{
    if (m_current + 1 >= m_names.size())
        return false;
    ++m_current;
    return true;
}

QString zqDirListing::fileName() const
{
    return (m_current >= 0 && m_current < m_names.size()) ? m_names[m_current] : QString();
}
