#include "FileTypesDialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "DialogUnits.h"
#include "FileTypesTemplate.h"
#include "SettingsFiles.h"

namespace snapmend {
namespace {

// The template's 8-point sans serif at 96 dpi; the first installed family wins.
QFont DialogFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(11);
    return font;
}

}  // namespace

FileTypesDialog::FileTypesDialog(const QString& programFolder, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
    , m_strProgramFolder(programFolder)
{
    setWindowTitle(QStringLiteral("Settings"));
    setModal(true);
    setFont(DialogFont());
    const QRect client = DialogUnitsToPixels(0, 0, kFileTypesDialogWidth, kFileTypesDialogHeight);
    setFixedSize(client.size());
    CreateControls();
    OnInitDialog();
}

void FileTypesDialog::CreateControls()
{
    for (const TemplateItem& item : FileTypesTemplate()) {
        const QString text = QString::fromLatin1(item.text);
        QWidget* control = nullptr;
        switch (item.kind) {
        case TemplateKind::DefPushButton:
        case TemplateKind::PushButton: {
            auto* button = new QPushButton(text, this);
            button->setAutoDefault(false);
            button->setDefault(item.kind == TemplateKind::DefPushButton);
            control = button;
            break;
        }
        case TemplateKind::Static:
            control = new QLabel(text, this);
            break;
        case TemplateKind::GroupBox: {
            auto* group = new QGroupBox(text, this);
            group->setFocusPolicy(Qt::NoFocus);
            control = group;
            break;
        }
        case TemplateKind::AutoCheckBox: {
            auto* box = new QCheckBox(text, this);
            m_chkFormats.emplace_back(box, QString::fromLatin1(item.key));
            control = box;
            break;
        }
        }
        QRect rect = DialogUnitsToPixels(item.x, item.y, item.width, item.height);
        // Our fonts run a little wider than the template's: static text keeps its last letters.
        if (item.kind == TemplateKind::Static)
            rect.setWidth(qMax(rect.width(), control->sizeHint().width()));
        control->setGeometry(rect);
        if (item.id != IDC_STATIC) {
            control->setObjectName(QStringLiteral("control%1").arg(item.id));
            m_controls[item.id] = control;
        }
    }
    // The group boxes come before their check boxes, so the boxes are drawn on top.
    connect(static_cast<QPushButton*>(Control(IDOK_BUTTON)), &QPushButton::clicked, this, &FileTypesDialog::accept);
    connect(static_cast<QPushButton*>(Control(IDCANCEL_BUTTON)), &QPushButton::clicked, this,
            &FileTypesDialog::reject);
    connect(static_cast<QPushButton*>(Control(IDC_DEFAULT_FORMATS)), &QPushButton::clicked, this,
            &FileTypesDialog::OnDefault);
}

bool FileTypesDialog::OnInitDialog()
{
    ApplyFormats(ReadSettingValue(m_strProgramFolder, kFormatsFileName, kFormatsKey, kDefaultFormats));
    Control(IDOK_BUTTON)->setFocus();
    return true;
}

void FileTypesDialog::ApplyFormats(const QString& formats)
{
    for (const auto& [box, key] : m_chkFormats)
        box->setChecked(FormatListHasKey(formats, key));
}

QString FileTypesDialog::CollectFormats() const
{
    QString list;
    for (const auto& [box, key] : m_chkFormats) {
        if (!box->isChecked())
            continue;
        if (!list.isEmpty())
            list += QLatin1Char(',');
        list += key;
    }
    return list;
}

void FileTypesDialog::OnDefault() { ApplyFormats(kDefaultFormats); }

void FileTypesDialog::accept()
{
    // A failed write is not reported; the dialog closes all the same.
    WriteFormats(m_strProgramFolder, CollectFormats());
    QDialog::accept();
}

QWidget* FileTypesDialog::Control(int id) const
{
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

QCheckBox* FileTypesDialog::CheckBox(int id) const { return qobject_cast<QCheckBox*>(Control(id)); }

}  // namespace snapmend
