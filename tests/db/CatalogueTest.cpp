// The catalogue's search statement run against a real catalogue through the embedded engine,
// and the stamp folder table.
#include "db/Catalogue.h"
#include "db/FBDatabase.h"

#include "support/TestUtil.h"

#include <gtest/gtest.h>

namespace {

using testutil::TempDir;

// Names chosen for the search's traps: accents in both cases, a quote, the wildcard letters
// typed as text, a letter whose full upper case is two letters, a space against "_".
const std::string kRows = R"(
INSERT INTO TB_CategoriaVinhetas VALUES (1, 'Hora Certa');
INSERT INTO TB_Vinhetas VALUES (1, 'Hora Certa 08 horas', '00:04', 'H', '0800.mp3', 4);
INSERT INTO TB_Vinhetas VALUES (2, 'O''Clock Especial', '00:05', 'V', 'oclock.mp3', 5);
INSERT INTO TB_Vinhetas VALUES (3, 'Previsão: ação do tempo', '00:07', 'W', 'tempo.mp3', 7);
INSERT INTO TB_Vinhetas VALUES (4, 'AÇÃO 100% Música', '00:03', 'V', 'acao.mp3', 3);
INSERT INTO TB_Vinhetas VALUES (5, 'Straße Nacht', '00:02', 'E', 'strasse.mp3', 2);
INSERT INTO TB_Vinhetas VALUES (6, 'Hora_Certa', '00:04', 'H', '0900.mp3', 4);
INSERT INTO TB_Vinhetas VALUES (7, 'Efeito X', '00:01', 'E', 'x.mp3', 1);
INSERT INTO TB_VinhetaCategorias VALUES (1, 1);
INSERT INTO TB_VinhetaCategorias VALUES (6, 1);
)";

}  // namespace

TEST(CatalogueTest, SearchStatementFindsNamesWhateverTheCaseAndKeepsQuotesLiteral)
{
    EXPECT_EQ(CatalogueSearchSQL("o'clock"),
              (std::vector<std::string>{
                  "SELECT Vin.*, CAST(LIST(Cav_Nome, ', ') AS VARCHAR(1000)) AS Cav_Nome",
                  "FROM TB_Vinhetas Vin",
                  "LEFT JOIN TB_VinhetaCategorias Vca ON Vca.Vin_Codigo = Vin.Vin_Codigo",
                  "LEFT JOIN TB_CategoriaVinhetas Cav ON Vca.Cav_Codigo = Cav.Cav_Codigo",
                  "WHERE UPPER(Vin.Vin_Nome) LIKE '%O''CLOCK%'",
                  "GROUP BY Vin.Vin_Codigo, Vin.Vin_Nome, Vin.Vin_Tempo, Vin.Vin_Tipo, Vin.Vin_Arquivo, Vin.Vin_Segundos",
                  "ORDER BY Vin.Vin_Nome",
              }));

    TempDir dir;
    const std::string path = dir.file("catalogo.fdb");
    ASSERT_EQ(testutil::makeCatalogue(path, kRows), "");
    TFBDatabase db;
    TFBTransaction trans;
    TFBQuery q;
    db.SetDatabaseName(path);
    db.Params() = {"user_name=SYSDBA", "password=cobaltfin"};
    db.SetDefaultTransaction(&trans);
    trans.SetDefaultDatabase(&db);
    trans.Params() = {"read_committed", "rec_version", "nowait"};
    q.SetDatabase(&db);
    q.SetTransaction(&trans);
    db.Open();

    const struct Case {
        const char* text;
        const char* literal;
        std::vector<int64_t> codes;  // in name order
    } cases[] = {
        {"", "'%%'", {4, 7, 1, 6, 2, 3, 5}},
        {"o'clock", "'%O''CLOCK%'", {2}},
        {"O'CLOCK", "'%O''CLOCK%'", {2}},
        {"ção", "'%ÇÃO%'", {4, 3}},
        {"ÇÃO", "'%ÇÃO%'", {4, 3}},
        {"previsão: AÇÃO", "'%PREVISÃO: AÇÃO%'", {3}},
        {"straße", "'%STRAßE%'", {5}},
        {"hora_certa", "'%HORA_CERTA%'", {1, 6}},
        {"100%mú", "'%100%MÚ%'", {4}},
        {"h%08", "'%H%08%'", {1}},
        {"x' OR ''='", "'%X'' OR ''''=''%'", {}},
        {"zzz", "'%ZZZ%'", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const QString text = QString::fromUtf8(c.text);
        EXPECT_EQ(CatalogueSearchLiteral(text), c.literal);
        q.Close();
        q.SQL() = CatalogueSearchSQL(text);
        q.Open();
        std::vector<int64_t> codes;
        for (q.First(); !q.Eof(); q.Next()) codes.push_back(q.FieldByName("VIN_CODIGO").AsInteger());
        EXPECT_EQ(codes, c.codes);
    }

    q.Close();
    q.SQL() = CatalogueStartSQL();
    q.Open();
    EXPECT_EQ(q.RecordCount(), 7);
    EXPECT_EQ(q.FieldByName("VIN_CODIGO").AsInteger(), 1) << "the start statement keeps code order";
    EXPECT_EQ(q.FieldByName("CAV_NOME").AsString(), "Hora Certa");
}

TEST(CatalogueTest, StampFolderByExactTypeLetter)
{
    const struct {
        const char* type;
        const char* folder;
    } cases[] = {{"V", "Vinhetas\\"}, {"H", "Horas\\"}, {"E", "Efeitos\\"}, {"S", "Trilhas\\"},
                 {"W", "Temperatura\\"}, {"L", "Locucoes\\"}, {"h", ""}, {"", ""}, {"HH", ""}, {" H", ""}, {"X", ""}};
    for (const auto& c : cases) EXPECT_EQ(StampFolder(c.type), c.folder) << c.type;
}
