#pragma once
#include <QDialog>
#include <QString>
#include <map>
#include <vector>

class QCheckBox;

namespace snapmend {

// The modal "Settings" dialog in which the user ticks the file types the next
// scan looks for. It reads formats.ini when it is created and writes it only
// on OK; Cancel, Escape and the close box write nothing.
class FileTypesDialog : public QDialog {
    Q_OBJECT
public:
    // programFolder: where formats.ini lives (the executable's folder in the program).
    explicit FileTypesDialog(const QString& programFolder, QWidget* parent = nullptr);

    // Ticks exactly the boxes whose key occurs in `formats`; clears all others.
    void ApplyFormats(const QString& formats);
    // The ticked keys joined by commas, in table order; empty when none is ticked.
    QString CollectFormats() const;

    // A control by its template id (1 OK, 2 Cancel, 1015 Default, 1016..1039 boxes).
    QWidget* Control(int id) const;
    QCheckBox* CheckBox(int id) const;

public slots:
    void accept() override;

private:
    void CreateControls();
    bool OnInitDialog();
    void OnDefault();

    QString m_strProgramFolder;
    std::map<int, QWidget*> m_controls;
    std::vector<std::pair<QCheckBox*, QString>> m_chkFormats;  // box and its key, table order
};

}  // namespace snapmend
