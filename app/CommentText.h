// The comment's line breaks: the stations' files hold a comment of several lines with CR LF
// between them, while the memo works with plain line feeds.
#pragma once

#include <QString>

#include <string>

// The memo's text as the tag's comment (UTF-8): every line break (LF, CR LF, a lone CR, or the
// memo's line and paragraph separators) becomes CR LF.
std::string CommentForTag(const QString& memoText);

// A comment read from a tag as the memo shows it: CR LF and a lone CR become LF, so a comment
// written with either line end shows the same lines.
QString CommentForMemo(const std::string& tagText);
