#include "db/Catalogue.h"

#include <QChar>
#include <QList>

namespace {

const char* const kSelect = "SELECT Vin.*, CAST(LIST(Cav_Nome, ', ') AS VARCHAR(1000)) AS Cav_Nome";
const char* const kFrom = "FROM TB_Vinhetas Vin";
const char* const kJoinLinks = "LEFT JOIN TB_VinhetaCategorias Vca ON Vca.Vin_Codigo = Vin.Vin_Codigo";
const char* const kJoinCategories = "LEFT JOIN TB_CategoriaVinhetas Cav ON Vca.Cav_Codigo = Cav.Cav_Codigo";
const char* const kGroupBy =
    "GROUP BY Vin.Vin_Codigo, Vin.Vin_Nome, Vin.Vin_Tempo, Vin.Vin_Tipo, Vin.Vin_Arquivo, Vin.Vin_Segundos";

}  // namespace

std::vector<std::string> CatalogueStartSQL() {
    return {kSelect, kFrom, kJoinLinks, kJoinCategories, kGroupBy, "Order by Vin.Vin_Codigo"};
}

std::string CatalogueSearchLiteral(const QString& text) {
    // QString::toUpper applies the full mappings ("ß" becomes "SS"); the database maps each
    // letter to one letter, and the pattern must be upper-cased the same way to match.
    QString upper;
    upper.reserve(text.size());
    for (const uint c : text.toUcs4()) {
        const char32_t u = QChar::toUpper(char32_t(c));
        upper += QString::fromUcs4(&u, 1);
    }
    const std::string pattern = "%" + upper.toStdString() + "%";
    std::string literal = "'";
    for (const char c : pattern) {
        literal += c;
        if (c == '\'') literal += '\'';
    }
    return literal + "'";
}

std::vector<std::string> CatalogueSearchSQL(const QString& text) {
    return {kSelect,
            kFrom,
            kJoinLinks,
            kJoinCategories,
            "WHERE UPPER(Vin.Vin_Nome) LIKE " + CatalogueSearchLiteral(text),
            kGroupBy,
            "ORDER BY Vin.Vin_Nome"};
}

QString StampFolder(const QString& type) {
    static const struct {
        const char* type;
        const char* folder;
    } folders[] = {{"V", "Vinhetas\\"}, {"H", "Horas\\"},       {"E", "Efeitos\\"},
                   {"S", "Trilhas\\"},  {"W", "Temperatura\\"}, {"L", "Locucoes\\"}};
    for (const auto& f : folders)
        if (type == QLatin1String(f.type)) return QString::fromLatin1(f.folder);
    return QString();
}
