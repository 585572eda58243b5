#pragma once
#include <QString>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "Notice.h"
#include "QtPrinters.h"
#include "UiServices.h"

namespace snapmend::test {

// Records every message box and answers from a script, so no test blocks.
// Unscripted boxes answer IDOK (MB_OK), IDNO (MB_YESNO) or IDCANCEL (MB_YESNOCANCEL). Thread-safe.
class ScriptedUiServices : public UiServices {
public:
    struct Box {
        QString text;
        QString caption;
        unsigned flags;
    };

    int MessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned flags) override;
    std::optional<QString> BrowseForFolder(QWidget* owner, const QString& title,
                                           const QString& startFolder) override;
    std::optional<QString> BrowseForFile(QWidget* owner, const QString& title, const QString& startFolder,
                                         const QString& filter) override;
    bool OpenWithDefaultHandler(const QString& path) override;

    void QueueAnswer(int answer);
    void QueueFolder(std::optional<QString> folder);
    // Answers for the file picker, in order; unscripted pickers are cancelled.
    void QueueFile(std::optional<QString> file);
    void SetOpenResult(bool result);

    std::vector<Box> Boxes() const;
    std::vector<QString> Texts() const;
    std::vector<QString> OpenedPaths() const;
    // The folder each folder picker was asked to start in.
    std::vector<QString> FolderStarts() const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::vector<Box> m_boxes;
    std::deque<int> m_answers;
    std::deque<std::optional<QString>> m_folders;
    std::deque<std::optional<QString>> m_files;
    std::vector<QString> m_opened;
    std::vector<QString> m_folderStarts;
    bool m_openResult = true;
};

// The texts of messages returned by code without widgets, in order.
inline std::vector<QString> TextsOf(const Notices& notices)
{
    std::vector<QString> texts;
    for (const Notice& notice : notices)
        texts.push_back(notice.text);
    return texts;
}

}  // namespace snapmend::test
