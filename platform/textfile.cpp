#include "textfile.h"

#include <QFile>
#include <QTextStream>

bool TextFile::write(const char *program, const QString &path, const QString &text, QTextStream &err)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text) && file.write(text.toUtf8()) >= 0
        && file.flush())
        return true;
    err << program << ": cannot write " << path << ": " << file.errorString() << Qt::endl;
    return false;
}
