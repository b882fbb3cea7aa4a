// The catalogue layer against real Firebird databases made in temporary folders: the embedded
// engine for local files, and a Firebird server this test starts on 127.0.0.1 for server names.
#include "db/FBDatabase.h"

#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using testutil::TempDir;

namespace {

// The catalogue statement exactly as the window holds it at start.
const std::vector<std::string> kCatalogueSQL = {
    "SELECT Vin.*, CAST(LIST(Cav_Nome, ', ') AS VARCHAR(1000)) AS Cav_Nome",
    "FROM TB_Vinhetas Vin",
    "LEFT JOIN TB_VinhetaCategorias Vca ON Vca.Vin_Codigo = Vin.Vin_Codigo",
    "LEFT JOIN TB_CategoriaVinhetas Cav ON Vca.Cav_Codigo = Cav.Cav_Codigo",
    "GROUP BY Vin.Vin_Codigo, Vin.Vin_Nome, Vin.Vin_Tempo, Vin.Vin_Tipo, Vin.Vin_Arquivo, Vin.Vin_Segundos",
    "Order by Vin.Vin_Codigo",
};

fs::path DbSource(const char* name) { return testutil::sourceDir() / "db" / name; }

// The sample catalogue, made by the set-up script.
void MakeCatalogue(const std::string& path, const std::string& env = "")
{
    const int rc = testutil::run(env + " " + testutil::shellQuote(DbSource("make-catalogue.sh").string()) + " " +
                                 testutil::shellQuote(path));
    ASSERT_EQ(rc, 0) << "make-catalogue.sh failed";
}

// A database with the catalogue's tables and the rows given as SQL.
void MakeDatabase(const TempDir&, const std::string& path, const std::string& rows)
{
    ASSERT_EQ(testutil::makeCatalogue(path, rows), "");
}

// The window's three database objects, wired as FormCreate wires them.
struct Catalogue {
    TFBDatabase DB_Quelt;
    TFBTransaction Trans_Quelt;
    TFBQuery Q_Vinhetas;

    explicit Catalogue(const std::string& name, const std::string& password = "cobaltfin", int timeout = 5)
    {
        DB_Quelt.SetDatabaseName(name);
        DB_Quelt.Params() = {"user_name=SYSDBA", "password=" + password};
        DB_Quelt.SetSQLDialect(1);
        DB_Quelt.SetConnectTimeout(timeout);
        Trans_Quelt.SetDefaultDatabase(&DB_Quelt);
        Trans_Quelt.Params() = {"read_committed", "rec_version", "nowait"};
        DB_Quelt.SetDefaultTransaction(&Trans_Quelt);
        Q_Vinhetas.SetDatabase(&DB_Quelt);
        Q_Vinhetas.SetTransaction(&Trans_Quelt);
        Q_Vinhetas.SQL() = kCatalogueSQL;
    }
};

std::set<std::string> SplitNames(const std::string& list)
{
    std::set<std::string> names;
    size_t start = 0;
    while (start <= list.size() && !list.empty()) {
        const size_t comma = list.find(", ", start);
        names.insert(list.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 2;
    }
    return names;
}

const std::string kSmallCatalogue = R"(
INSERT INTO TB_CategoriaVinhetas VALUES (1, 'Manhã');
INSERT INTO TB_CategoriaVinhetas VALUES (2, 'Hora Certa');
INSERT INTO TB_CategoriaVinhetas VALUES (3, 'Previsão do Tempo');
INSERT INTO TB_Vinhetas VALUES (30, 'Olho d''Água', '00:07', 'V', 'abc.mp3x', 7);
INSERT INTO TB_Vinhetas VALUES (10, 'Hora certa 08 horas', '00:04', 'H', '0800.mp3', 4);
INSERT INTO TB_Vinhetas VALUES (20, 'Previsão: AÇÃO 100%', '01:05', 'W', 'abc.mp3', 65);
INSERT INTO TB_Vinhetas VALUES (40, 'sem categoria', NULL, 'E', 'ABC.MP3', NULL);
INSERT INTO TB_VinhetaCategorias VALUES (10, 1);
INSERT INTO TB_VinhetaCategorias VALUES (10, 2);
INSERT INTO TB_VinhetaCategorias VALUES (20, 3);
INSERT INTO TB_VinhetaCategorias VALUES (30, 1);
)";

}  // namespace

TEST(FBDatabaseTest, CatalogueStatementGivesRowsInCodeOrderWithCategoryNames)
{
    TempDir dir;
    const std::string path = dir.file("small.fdb");
    MakeDatabase(dir, path, kSmallCatalogue);

    Catalogue c(" " + path + "\r\n");  // as read from an INI line ending in CR LF
    c.DB_Quelt.Open();
    ASSERT_TRUE(c.DB_Quelt.Connected());
    c.Q_Vinhetas.Open();
    ASSERT_TRUE(c.Q_Vinhetas.Active());
    ASSERT_EQ(c.Q_Vinhetas.RecordCount(), 4);

    std::vector<std::string> names;
    for (int i = 0; i < c.Q_Vinhetas.FieldCount(); ++i) names.push_back(c.Q_Vinhetas.Fields(i).FieldName());
    EXPECT_EQ(names, (std::vector<std::string>{"VIN_CODIGO", "VIN_NOME", "VIN_TEMPO", "VIN_TIPO", "VIN_ARQUIVO",
                                               "VIN_SEGUNDOS", "CAV_NOME"}));
    EXPECT_EQ(c.Q_Vinhetas.FieldByName("vin_codigo").DataType(), TFBFieldType::ftInteger);
    EXPECT_EQ(c.Q_Vinhetas.FieldByName("VIN_NOME").Size(), 45);
    EXPECT_EQ(c.Q_Vinhetas.FieldByName("VIN_TIPO").Size(), 1);
    EXPECT_EQ(c.Q_Vinhetas.FieldByName("CAV_NOME").Size(), 1000);

    // Walk with First/Next/Eof, as the grid and the stamp look-up do.
    std::vector<int64_t> codes;
    std::vector<std::string> rows;
    for (c.Q_Vinhetas.First(); !c.Q_Vinhetas.Eof(); c.Q_Vinhetas.Next()) {
        codes.push_back(c.Q_Vinhetas.FieldByName("VIN_CODIGO").AsInteger());
        rows.push_back(c.Q_Vinhetas.FieldByName("VIN_NOME").AsString() + "|" +
                       c.Q_Vinhetas.FieldByName("VIN_TEMPO").AsString() + "|" +
                       c.Q_Vinhetas.FieldByName("VIN_TIPO").AsString() + "|" +
                       c.Q_Vinhetas.FieldByName("VIN_ARQUIVO").AsString() + "|" +
                       c.Q_Vinhetas.FieldByName("VIN_SEGUNDOS").AsString());
    }
    EXPECT_EQ(codes, (std::vector<int64_t>{10, 20, 30, 40}));
    EXPECT_EQ(rows, (std::vector<std::string>{"Hora certa 08 horas|00:04|H|0800.mp3|4",
                                              "Previsão: AÇÃO 100%|01:05|W|abc.mp3|65",
                                              "Olho d'Água|00:07|V|abc.mp3x|7", "sem categoria||E|ABC.MP3|"}));
    EXPECT_EQ(c.Q_Vinhetas.RecNo(), 3);  // Next past the last row stays on it

    EXPECT_EQ(SplitNames(c.Q_Vinhetas.Value(0, 6).text), (std::set<std::string>{"Manhã", "Hora Certa"}));
    EXPECT_EQ(c.Q_Vinhetas.Value(1, 6).text, "Previsão do Tempo");
    EXPECT_TRUE(c.Q_Vinhetas.Value(3, 6).isNull);
    EXPECT_TRUE(c.Q_Vinhetas.Value(3, 5).isNull);

    c.Q_Vinhetas.Close();
    EXPECT_FALSE(c.Q_Vinhetas.Active());
    EXPECT_EQ(c.Q_Vinhetas.RecordCount(), 0);
    EXPECT_EQ(c.Q_Vinhetas.FindField("VIN_NOME"), nullptr);
}

TEST(FBDatabaseTest, LocateAndSearchStatement)
{
    TempDir dir;
    const std::string path = dir.file("small.fdb");
    MakeDatabase(dir, path, kSmallCatalogue);
    Catalogue c(path);
    c.DB_Quelt.Open();
    c.Q_Vinhetas.Open();
    auto& q = c.Q_Vinhetas;

    // The stamp look-up: first row in query order whose file begins with the key, case-sensitive.
    ASSERT_TRUE(q.Locate("VIN_ARQUIVO", "abc.mp3", loPartialKey));
    EXPECT_EQ(q.FieldByName("VIN_CODIGO").AsInteger(), 20);
    q.Last();
    ASSERT_TRUE(q.Locate("VIN_ARQUIVO", "abc.mp3x", loPartialKey));
    EXPECT_EQ(q.FieldByName("VIN_CODIGO").AsInteger(), 30);
    EXPECT_FALSE(q.Locate("VIN_ARQUIVO", "abc.mp3xy", loPartialKey));
    EXPECT_EQ(q.FieldByName("VIN_CODIGO").AsInteger(), 30) << "a failed Locate keeps the current row";
    EXPECT_FALSE(q.Locate("VIN_ARQUIVO", "abc.mp", 0)) << "without loPartialKey the whole text must match";
    ASSERT_TRUE(q.Locate("VIN_ARQUIVO", "ABC.mp3", loCaseInsensitive));
    EXPECT_EQ(q.FieldByName("VIN_CODIGO").AsInteger(), 20);
    ASSERT_TRUE(q.Locate("VIN_NOME", "olho D'ÁGUA", loCaseInsensitive)) << "case folding covers accented letters";
    EXPECT_EQ(q.FieldByName("VIN_CODIGO").AsInteger(), 30);
    ASSERT_TRUE(q.Locate("VIN_CODIGO", "40"));
    EXPECT_TRUE(q.FieldByName("VIN_TEMPO").IsNull());
    EXPECT_THROW(q.Locate("NO_SUCH_FIELD", "x"), EFBError);
    EXPECT_THROW(q.FieldByName("NO_SUCH_FIELD"), EFBError);
    EXPECT_THROW(q.FieldByName("VIN_NOME").AsInteger(), EFBError);

    // The search form: upper case over UTF8 text, a doubled quote, wildcards, name order.
    auto search = [&](const std::string& literal) {
        q.Close();
        q.SQL() = {kCatalogueSQL[0], kCatalogueSQL[1], kCatalogueSQL[2], kCatalogueSQL[3],
                   "WHERE UPPER(Vin.Vin_Nome) LIKE " + literal, kCatalogueSQL[4], "ORDER BY Vin.Vin_Nome"};
        q.Open();
        std::vector<int64_t> codes;
        for (q.First(); !q.Eof(); q.Next()) codes.push_back(q.FieldByName("VIN_CODIGO").AsInteger());
        return codes;
    };
    EXPECT_EQ(search("'%AÇÃO%'"), (std::vector<int64_t>{20}));
    EXPECT_EQ(search("'%D''ÁGUA%'"), (std::vector<int64_t>{30}));
    EXPECT_EQ(search("'%100%%'"), (std::vector<int64_t>{20}));
    EXPECT_EQ(search("'%%'"), (std::vector<int64_t>{10, 30, 20, 40}));
    EXPECT_EQ(search("'%NADA%'"), (std::vector<int64_t>{}));
    EXPECT_TRUE(q.Eof());
    EXPECT_EQ(q.RecNo(), -1);
    EXPECT_TRUE(q.FieldByName("VIN_NOME").IsNull());
    EXPECT_EQ(q.FieldByName("VIN_NOME").AsString(), "");
}

TEST(FBDatabaseTest, SampleCatalogueMatchesWhatIsqlReads)
{
    TempDir dir;
    const std::string path = dir.file("catalogue.fdb");
    MakeCatalogue(path);
    const auto made = fs::last_write_time(path);
    MakeCatalogue(path);
    EXPECT_EQ(fs::last_write_time(path), made) << "an up-to-date catalogue is left alone";


    // isql-fb reads the same statement independently.
    std::string statement;
    for (const std::string& l : kCatalogueSQL) statement += l + "\n";
    testutil::writeFile(dir.file("q.sql"), "SET LIST ON;\n" + statement + ";\n");
    std::string out;
    ASSERT_EQ(testutil::run("isql-fb -q -ch UTF8 -user SYSDBA " + testutil::shellQuote(path) + " -i " +
                                testutil::shellQuote(dir.file("q.sql")),
                            &out),
              0);
    std::vector<std::map<std::string, std::string>> expected;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto gap = line.find(' ');
        if (gap == std::string::npos) continue;
        const std::string key = line.substr(0, gap);
        std::string value = line.substr(line.find_first_not_of(' ', gap));
        if (key == "VIN_CODIGO") expected.emplace_back();
        if (!expected.empty()) expected.back()[key] = value;
    }
    ASSERT_GE(expected.size(), 300u);

    // Opened after isql has finished: the embedded engine holds the file for one process.
    Catalogue c(path);
    c.DB_Quelt.Open();
    c.Q_Vinhetas.Open();
    auto& q = c.Q_Vinhetas;
    ASSERT_EQ(static_cast<int>(expected.size()), q.RecordCount());

    std::set<std::string> types;
    int64_t previous = -1;
    int row = 0;
    for (q.First(); !q.Eof(); q.Next(), ++row) {
        const int64_t code = q.FieldByName("VIN_CODIGO").AsInteger();
        EXPECT_GT(code, previous);
        previous = code;
        const auto& e = expected[static_cast<size_t>(row)];
        EXPECT_EQ(std::to_string(code), e.at("VIN_CODIGO"));
        for (const char* field : {"VIN_NOME", "VIN_TIPO", "VIN_ARQUIVO", "VIN_SEGUNDOS"})
            EXPECT_EQ(q.FieldByName(field).AsString(), e.at(field)) << field << " of " << code;
        EXPECT_EQ(SplitNames(q.FieldByName("CAV_NOME").AsString()),
                  e.at("CAV_NOME") == "<null>" ? std::set<std::string>{} : SplitNames(e.at("CAV_NOME")));
        types.insert(q.FieldByName("VIN_TIPO").AsString());
    }
    EXPECT_EQ(types, (std::set<std::string>{"E", "H", "L", "S", "V", "W"}));

    ASSERT_TRUE(q.Locate("VIN_ARQUIVO", "0800.mp3"));
    EXPECT_EQ(q.FieldByName("VIN_TIPO").AsString(), "H");
    EXPECT_EQ(SplitNames(q.FieldByName("CAV_NOME").AsString()), (std::set<std::string>{"Hora Certa", "Manhã"}));
}

TEST(FBDatabaseTest, ConnectionAndTransactionUseTheCatalogueParameters)
{
    TempDir dir;
    const std::string path = dir.file("small.fdb");
    MakeDatabase(dir, path, kSmallCatalogue);
    Catalogue c(path);
    c.DB_Quelt.Open();
    auto& q = c.Q_Vinhetas;

    q.SQL() = {"SELECT t.MON$READ_ONLY, t.MON$ISOLATION_MODE, t.MON$LOCK_TIMEOUT, a.MON$USER,",
               "       a.MON$CHARACTER_SET_ID, 1/2 AS HALF",
               "FROM MON$TRANSACTIONS t JOIN MON$ATTACHMENTS a ON a.MON$ATTACHMENT_ID = t.MON$ATTACHMENT_ID",
               "WHERE t.MON$TRANSACTION_ID = CURRENT_TRANSACTION"};
    q.Open();
    ASSERT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.Fields(0).AsInteger(), 1) << "read only";
    EXPECT_EQ(q.Fields(1).AsInteger(), 2) << "read committed, record version";
    EXPECT_EQ(q.Fields(2).AsInteger(), 0) << "no wait";
    EXPECT_EQ(q.Fields(3).AsString(), "SYSDBA");
    EXPECT_EQ(q.Fields(4).AsInteger(), 4) << "UTF8";
    EXPECT_DOUBLE_EQ(q.Fields(5).AsFloat(), 0.5) << "dialect 1 divides in floating point";
    EXPECT_TRUE(c.Trans_Quelt.InTransaction());

    // CHAR comes blank-padded to its byte length over UTF8; scaled numbers come as floats.
    q.Close();
    q.SQL() = {"SELECT CAST('H' AS CHAR(3)), CAST('Á b' AS CHAR(5)), CAST(12.25 AS NUMERIC(9,2)),",
               "       CAST(NULL AS CHAR(2)) FROM RDB$DATABASE"};
    q.Open();
    EXPECT_EQ(q.Fields(0).AsString(), "H");
    EXPECT_EQ(q.Fields(1).AsString(), "Á b");
    EXPECT_EQ(q.Fields(1).Size(), 5);
    EXPECT_EQ(q.Fields(2).DataType(), TFBFieldType::ftFloat);
    EXPECT_DOUBLE_EQ(q.Fields(2).AsFloat(), 12.25);
    EXPECT_TRUE(q.Fields(3).IsNull());

    // Closing the connection closes its queries and ends its transaction.
    c.DB_Quelt.Close();
    EXPECT_FALSE(c.DB_Quelt.Connected());
    EXPECT_FALSE(q.Active());
    EXPECT_FALSE(c.Trans_Quelt.InTransaction());
    EXPECT_THROW(q.Open(), EFBError);
    EXPECT_FALSE(q.Active());

    // A faulty statement leaves the query closed with the server's message.
    c.DB_Quelt.Open();
    q.SQL() = {"SELECT NO_SUCH_COLUMN FROM TB_Vinhetas"};
    try {
        q.Open();
        ADD_FAILURE() << "no error";
    } catch (const EFBError& e) {
        EXPECT_NE(std::string(e.what()).find("NO_SUCH_COLUMN"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(q.Active());
    q.SQL() = kCatalogueSQL;
    q.Open();
    EXPECT_EQ(q.RecordCount(), 4) << "the connection survives a faulty statement";
}

TEST(FBDatabaseTest, BadDatabaseNamesFailWithTheLibraryMessage)
{
    TempDir dir;
    const std::string notDb = dir.file("not-a-database.fdb");
    testutil::writeFile(notDb, std::string(32768, 'x'));

    struct Case {
        std::string name;
        std::string inMessage;
    };
    const std::vector<Case> cases = {
        {"", "name"},
        {dir.file("missing.fdb"), "missing.fdb"},
        {notDb, "not-a-database.fdb"},
        // A drive-letter path from the stations' own machines goes to the embedded engine (which
        // refuses it), never to a host named "C".
        {"C:\\Quelt\\Quelt Play\\Queltdb\\QUELTDB.FDB", "unavailable database"},
    };
    for (const Case& k : cases) {
        Catalogue c(k.name);
        try {
            c.DB_Quelt.Open();
            ADD_FAILURE() << "opened " << k.name;
        } catch (const EFBError& e) {
            EXPECT_NE(std::string(e.what()).find(k.inMessage), std::string::npos) << k.name << ": " << e.what();
        }
        EXPECT_FALSE(c.DB_Quelt.Connected());
        EXPECT_THROW(c.Q_Vinhetas.Open(), EFBError);
        EXPECT_THROW(c.Trans_Quelt.StartTransaction(), EFBError);
    }
    Catalogue c(notDb);
    c.DB_Quelt.Params().push_back("no_such_parameter=1");
    EXPECT_THROW(c.DB_Quelt.Open(), EFBError);
}

namespace {

// A port on 127.0.0.1 that nobody listens on right now.
int FreeLoopbackPort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

bool LoopbackAccepts(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

const char* const kServer = "/usr/sbin/firebird";
const char* const kSecurityDb = "/var/lib/firebird/3.0/system/security3.fdb";

// A private Firebird server bound to 127.0.0.1 on a free port, with its own configuration,
// security database (SYSDBA / cobaltfin), lock folder and catalogue; stopped on destruction.
class LoopbackServer {
public:
    explicit LoopbackServer(const TempDir& dir) : root_(dir.path() / "server")
    {
        const fs::path conf = root_ / "conf";
        const fs::path lock = root_ / "lock";
        fs::create_directories(conf);
        fs::create_directories(lock);
        fs::copy_file(kSecurityDb, conf / "security3.fdb");
        port_ = FreeLoopbackPort();
        testutil::writeFile((conf / "firebird.conf").string(),
                            "RemoteBindAddress = 127.0.0.1\nRemoteServicePort = " + std::to_string(port_) +
                                "\nSecurityDatabase = " + (conf / "security3.fdb").string() + "\n");
        const std::string env = "FIREBIRD=" + testutil::shellQuote(conf.string()) +
                                " FIREBIRD_LOCK=" + testutil::shellQuote(lock.string());
        testutil::writeFile((root_ / "user.sql").string(),
                            "CREATE OR ALTER USER SYSDBA PASSWORD 'cobaltfin';\nCOMMIT;\n");
        std::string out;
        if (testutil::run(env + " isql-fb -q -user SYSDBA " + testutil::shellQuote((conf / "security3.fdb").string()) +
                              " -i " + testutil::shellQuote((root_ / "user.sql").string()) + " 2>&1",
                          &out) != 0) {
            error_ = "cannot set the password: " + out;
            return;
        }
        catalogue_ = (root_ / "catalogue.fdb").string();
        if (testutil::run(env + " " + testutil::shellQuote(DbSource("make-catalogue.sh").string()) + " " +
                          testutil::shellQuote(catalogue_)) != 0) {
            error_ = "cannot make the catalogue";
            return;
        }

        // Everything the child needs is made before fork: only async-signal-safe calls after it.
        std::vector<std::string> envStrings = {"FIREBIRD=" + conf.string(), "FIREBIRD_LOCK=" + lock.string()};
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "FIREBIRD", 8) != 0) envStrings.emplace_back(*e);
        std::vector<char*> envp;
        for (std::string& e : envStrings) envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            setsid();
            execle(kServer, kServer, static_cast<char*>(nullptr), envp.data());
            _exit(127);
        }
        for (int i = 0; i < 200 && !LoopbackAccepts(port_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!LoopbackAccepts(port_)) error_ = "the server did not start listening";
    }

    ~LoopbackServer()
    {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        for (int i = 0; i < 200; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }

    const std::string& Error() const { return error_; }
    std::string Name() const { return "127.0.0.1/" + std::to_string(port_) + ":" + catalogue_; }

private:
    fs::path root_;
    int port_ = 0;
    pid_t pid_ = -1;
    std::string catalogue_;
    std::string error_;
};

}  // namespace

TEST(FBDatabaseTest, ServerNameReachesALoopbackServer)
{
    if (!fs::exists(kServer) || !fs::exists(kSecurityDb))
        GTEST_SKIP() << "no Firebird server binary (package firebird3.0-server)";
    TempDir dir;
    LoopbackServer server(dir);
    ASSERT_EQ(server.Error(), "");

    Catalogue c(server.Name());
    c.DB_Quelt.Open();
    c.Q_Vinhetas.Open();
    EXPECT_GE(c.Q_Vinhetas.RecordCount(), 300);
    ASSERT_TRUE(c.Q_Vinhetas.Locate("VIN_ARQUIVO", "0800.mp3"));
    EXPECT_EQ(SplitNames(c.Q_Vinhetas.FieldByName("CAV_NOME").AsString()),
              (std::set<std::string>{"Hora Certa", "Manhã"}));
    c.Q_Vinhetas.SQL() = {"SELECT MON$REMOTE_PROTOCOL FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION"};
    c.Q_Vinhetas.Close();
    c.Q_Vinhetas.Open();
    EXPECT_EQ(c.Q_Vinhetas.Fields(0).AsString(), "TCPv4") << "through the server, not the embedded engine";
    c.DB_Quelt.Close();

    Catalogue wrong(server.Name(), "not-the-password");
    try {
        wrong.DB_Quelt.Open();
        ADD_FAILURE() << "connected with a wrong password";
    } catch (const EFBError& e) {
        EXPECT_NE(std::string(e.what()).find("password"), std::string::npos) << e.what();
    }
}

TEST(FBDatabaseTest, SilentServerFailsWithinTheConnectTimeout)
{
    // Accepts connections (the kernel completes them) but never answers.
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(s, 4), 0);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);

    Catalogue c("127.0.0.1/" + std::to_string(ntohs(a.sin_port)) + ":/srv/catalogue.fdb", "cobaltfin", 2);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(c.DB_Quelt.Open(), EFBError);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(s);
    EXPECT_LT(seconds, 15.0) << "the window would hang on a silent server";
    EXPECT_FALSE(c.DB_Quelt.Connected());
}
