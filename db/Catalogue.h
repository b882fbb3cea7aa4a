// The jingle catalogue as the window reads it: the query's start statement, its search form,
// and the playout system's folder of each jingle type. Plain functions, no connection needed.
#pragma once

#include <QString>

#include <string>
#include <vector>

// The statement Q_Vinhetas holds at start: every jingle with its categories, in code order.
std::vector<std::string> CatalogueStartSQL();

// The LIKE pattern of a search text as an SQL string literal: "%", the text upper-cased letter
// by letter (one letter for one, as the database's UPPER does, so "ß" stays "ß"), "%", in single
// quotes with every quote inside doubled. "%" and "_" in the text stay wildcards; nothing else
// is special (the catalogue's LIKE has no escape character).
std::string CatalogueSearchLiteral(const QString& text);

// The seven-line search statement: the jingles whose upper-cased name matches the literal
// above, with their categories, in name order. An empty text matches every named jingle.
std::vector<std::string> CatalogueSearchSQL(const QString& text);

// The playout system's folder for a VIN_TIPO letter ("Horas\" for "H", ...; Windows names,
// the backslash is part of them). Exact, case-sensitive; empty for any other text.
QString StampFolder(const QString& type);
