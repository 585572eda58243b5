#include "ScriptedUiServices.h"

namespace snapmend::test {

int ScriptedUiServices::MessageBox(QWidget*, const QString& text, const QString& caption, unsigned flags)
{
    std::lock_guard lock(m_mutex);
    m_boxes.push_back({text, caption, flags});
    if (!m_answers.empty()) {
        const int answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }
    switch (flags & 0xF) {
    case MB_YESNO: return IDNO;
    case MB_YESNOCANCEL: return IDCANCEL;
    default: return IDOK;
    }
}

std::optional<QString> ScriptedUiServices::BrowseForFolder(QWidget*, const QString&, const QString& startFolder)
{
    std::lock_guard lock(m_mutex);
    m_folderStarts.push_back(startFolder);
    if (m_folders.empty())
        return std::nullopt;
    auto folder = m_folders.front();
    m_folders.pop_front();
    return folder;
}

bool ScriptedUiServices::OpenWithDefaultHandler(const QString& path)
{
    std::lock_guard lock(m_mutex);
    m_opened.push_back(path);
    return m_openResult;
}

void ScriptedUiServices::QueueAnswer(int answer) { std::lock_guard lock(m_mutex); m_answers.push_back(answer); }
std::optional<QString> ScriptedUiServices::BrowseForFile(QWidget*, const QString&, const QString&, const QString&)
{
    std::lock_guard lock(m_mutex);
    if (m_files.empty())
        return std::nullopt;
    auto file = m_files.front();
    m_files.pop_front();
    return file;
}

void ScriptedUiServices::QueueFile(std::optional<QString> file) { std::lock_guard lock(m_mutex); m_files.push_back(std::move(file)); }
void ScriptedUiServices::QueueFolder(std::optional<QString> folder) { std::lock_guard lock(m_mutex); m_folders.push_back(std::move(folder)); }
void ScriptedUiServices::SetOpenResult(bool result) { std::lock_guard lock(m_mutex); m_openResult = result; }

std::vector<ScriptedUiServices::Box> ScriptedUiServices::Boxes() const { std::lock_guard lock(m_mutex); return m_boxes; }

std::vector<QString> ScriptedUiServices::Texts() const
{
    std::lock_guard lock(m_mutex);
    std::vector<QString> texts;
    for (const Box& box : m_boxes)
        texts.push_back(box.text);
    return texts;
}

std::vector<QString> ScriptedUiServices::OpenedPaths() const { std::lock_guard lock(m_mutex); return m_opened; }
std::vector<QString> ScriptedUiServices::FolderStarts() const { std::lock_guard lock(m_mutex); return m_folderStarts; }

void ScriptedUiServices::Clear()
{
    std::lock_guard lock(m_mutex);
    m_boxes.clear();
    m_answers.clear();
    m_folders.clear();
    m_opened.clear();
    m_folderStarts.clear();
}

}  // namespace snapmend::test
