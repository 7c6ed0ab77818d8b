#include "textfile.h"

#include <QSaveFile>
#include <QTextStream>

bool TextFile::write(const char *program, const QString &path, const QString &text, QTextStream &err)
{
    // Written aside and renamed when complete: a reader (a merge of a cluster's parts, a script
    // polling for the file) never sees half a file.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Text) && file.write(text.toUtf8()) >= 0 && file.commit())
        return true;
    err << program << ": cannot write " << path << ": " << file.errorString() << Qt::endl;
    return false;
}
