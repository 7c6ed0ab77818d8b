#include "clipdialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace {

const char *const kFolderKey = "dialog/lastClipFolder";

} // namespace

std::unique_ptr<QSettings> ClipDialog::programSettings()
{
    return std::make_unique<QSettings>(QStringLiteral("seekmark"), QStringLiteral("seekmark"));
}

QStringList ClipDialog::nameFilters(const QString &ownFilter)
{
    return {ownFilter,
            QCoreApplication::translate("ClipDialog",
                                        "All video files (*.mp4 *.mpg *.mkv *.ts *.m2ts *.mts *.mov *.m4v *.webm "
                                        "*.avi *.flv *.wmv *.ogv *.3gp *.mxf *.y4m)"),
            QCoreApplication::translate("ClipDialog", "All files (*)")};
}

QString ClipDialog::startFolder(const QSettings &settings, const QString &firstFolder)
{
    const QString folder = settings.value(QLatin1String(kFolderKey)).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : firstFolder;
}

void ClipDialog::rememberClip(QSettings &settings, const QString &clip)
{
    if (clip.isEmpty())
        return;
    settings.setValue(QLatin1String(kFolderKey), QFileInfo(clip).absolutePath());
    settings.sync();
}

std::unique_ptr<QFileDialog> ClipDialog::create(const QString &caption, const QString &ownFilter,
                                                const QString &firstFolder, const QSettings &settings)
{
    auto dialog = std::make_unique<QFileDialog>(nullptr, caption, startFolder(settings, firstFolder));
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilters(nameFilters(ownFilter));
    dialog->selectNameFilter(ownFilter);
    return dialog;
}

QString ClipDialog::ask(const QString &caption, const QString &ownFilter, const QString &firstFolder)
{
    const std::unique_ptr<QSettings> settings = programSettings();
    const std::unique_ptr<QFileDialog> dialog = create(caption, ownFilter, firstFolder, *settings);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return QString();
    const QString clip = dialog->selectedFiles().constFirst();
    rememberClip(*settings, clip);
    return clip;
}
