// SPDX-License-Identifier: GPL-3.0-or-later
#include "logtext.h"

QString LogText::quoted(const QString& text, int maxLength)
{
    QString result = QStringLiteral("\"");
    for (const QChar c : text.left(maxLength)) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            result += QLatin1Char('\\') + c;
        else if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format
                 || c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph)
            result += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            result += c;
    }
    return result + (text.size() > maxLength ? QStringLiteral("…\"") : QStringLiteral("\""));
}
