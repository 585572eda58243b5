#pragma once
#include <QString>
#include <optional>

class QWidget;

namespace snapmend {

// Message box flags and answers, with the classic values.
enum MessageBoxFlag : unsigned {
    MB_OK = 0x0,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
};
enum MessageBoxAnswer : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// Captions of the program's messages and of its questions.
inline const QString kMessageCaption = QStringLiteral("Snapmend");
inline const QString kQuestionCaption = QStringLiteral("Confirm");

// Everything that would block on a person: message boxes, the folder picker,
// handing a file or folder to the desktop. Tests substitute a scripted one.
class UiServices {
public:
    virtual ~UiServices() = default;

    // Callable from any thread; a non-UI caller blocks until it is answered.
    virtual int MessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned flags) = 0;

    // The chosen folder, or nothing when the user cancels.
    virtual std::optional<QString> BrowseForFolder(QWidget* owner, const QString& title,
                                                   const QString& startFolder) = 0;

    // The chosen file, or nothing when the user cancels.
    virtual std::optional<QString> BrowseForFile(QWidget* owner, const QString& title, const QString& startFolder,
                                                 const QString& filter) = 0;

    // Opens a file or folder with the desktop's default handler, as the person
    // behind pkexec/sudo when there is one; false when nothing could.
    virtual bool OpenWithDefaultHandler(const QString& path) = 0;
};

// The real services: Qt message boxes and dialogs on the UI thread.
class QtUiServices : public UiServices {
public:
    int MessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned flags) override;
    std::optional<QString> BrowseForFolder(QWidget* owner, const QString& title,
                                           const QString& startFolder) override;
    std::optional<QString> BrowseForFile(QWidget* owner, const QString& title, const QString& startFolder,
                                         const QString& filter) override;
    bool OpenWithDefaultHandler(const QString& path) override;
};

}  // namespace snapmend
