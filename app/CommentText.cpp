#include "app/CommentText.h"

namespace {

// One LF per line break of any kind.
QString WithLineFeeds(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QChar('\r'), QChar('\n'));
    text.replace(QChar::LineSeparator, QChar('\n'));
    text.replace(QChar::ParagraphSeparator, QChar('\n'));
    return text;
}

}  // namespace

std::string CommentForTag(const QString& memoText) {
    return WithLineFeeds(memoText).replace(QChar('\n'), QLatin1String("\r\n")).toStdString();
}

QString CommentForMemo(const std::string& tagText) { return WithLineFeeds(QString::fromStdString(tagText)); }
