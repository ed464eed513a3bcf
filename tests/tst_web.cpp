// The web face over real sockets: what a client may send (request heads, paths, tokens), what
// each API route answers, and the limits a server on a radio amateur's network must hold.

#include "network/networkmap.h"
#include "testkit/httpclient.h"
#include "web/webface.h"
#include "web/webjson.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

using testkit::Exchange;
using testkit::RequestText;

namespace {

constexpr char kToken[] = "s3cret-token";
constexpr char kSecret[] = "OUTSIDE THE ARCHIVE";
constexpr char kPng[] = "20261207-101638Z-c78-Cyprus.png";
constexpr char kTable[] = "20261207-101638Z-c78-Cyprus.csv.gz";

QJsonObject JsonOf(const testkit::HttpReply& reply) {
    return QJsonDocument::fromJson(reply.body).object();
}

// A station in the middle of a day: one followed sounder with a sweep of two columns, scaled
// with a known path, one sounder heard.
feed::Snapshot DaySnapshot(const QString& archive) {
    feed::Snapshot s;
    s.activity = feed::Activity::Stepping;
    s.rig.backend = "civ";
    s.rig.connected = true;
    s.archiveFolder = archive;
    s.runningSinceUtc = QDateTime(QDate(2026, 12, 7), QTime(10, 0), Qt::UTC);
    s.followed.push_back({"Cyprus", 100, 300, 78, geo::Position{35, 33}});
    auto sweep = std::make_shared<ionogram::IonogramSweep>();
    sweep->sounder = "Cyprus";
    sweep->startUtc = QDateTime(QDate(2026, 12, 7), QTime(10, 16, 38), Qt::UTC);
    sweep->frequenciesKhz = {2000, 2100};
    sweep->snrDb = {{1.26f, NAN, 20}, {0, 3, 4}};
    s.ionograms.push_back(sweep);
    ionogram::ScaledSweep scaled;
    scaled.traces.push_back({1, 2000, 7100, 3.1, 2500, 22});
    scaled.geometry = ionogram::SweepGeometry{};
    scaled.geometry->layers.push_back({"", "1F", 1, "fit", 6500});
    s.lastScaled["Cyprus"] = {s.followed[0], sweep, scaled, sweep->startUtc.addSecs(300)};
    s.heard.push_back({7000, {100, 300, 78.002, 4, 14.5, 1.7e9, 1.7e9 + 900, true}});
    s.problems = {"The radio did not answer."};
    return s;
}

} // namespace

class TestWeb : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QString archive;
    std::unique_ptr<web::WebFace> face;
    QStringList done; // the commands the face passed on

    quint16 Port() const { return face->Front().Port(); }

private slots:
    void init() {
        face.reset();
        dir = std::make_unique<QTemporaryDir>();
        archive = dir->filePath("archive");
        QVERIFY(QDir().mkpath(archive));
        QFile secret(dir->filePath("secret.png"));
        QVERIFY(secret.open(QIODevice::WriteOnly) && secret.write(kSecret) > 0);
        secret.close();
        for (const char* name : {kPng, kTable}) {
            QFile file(QDir(archive).filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(name) > 0);
        }
        QFile day(QDir(archive).filePath("scaled-2026-12-07.csv"));
        QVERIFY(day.open(QIODevice::WriteOnly));
        day.write("sweep_start_utc,sounder,trace,mof_khz,mode\n"
                  "2026-12-07T10:16:38Z,1234,1,7100.5,1F\n"
                  "2026-12-07T10:21:38Z,\"A, B\",0,nan,\n");
        day.close();
        QVERIFY(QFile::link(dir->filePath("secret.png"), QDir(archive).filePath("link.png")));
        done.clear();
        face = std::make_unique<web::WebFace>(
            [this] { return DaySnapshot(archive); },
            web::Commands{[this] { done.push_back("start"); }, [this] { done.push_back("stop"); },
                          [this](const QStringList& n) { done.push_back("follow " + n.join(',')); },
                          [this](const std::vector<double>& khz) {
                              done.push_back("listen " + QString::number(khz.size()));
                          }});
        QCOMPARE(face->Listen(QHostAddress(QHostAddress::LocalHost), 0), QString());
    }

    void parseHead_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("refusal"); // 0: accepted
        QTest::addColumn<QString>("path");
        QTest::newRow("plain") << QByteArray("GET /api/status HTTP/1.1\r\n\r\n") << 0
                               << "/api/status";
        QTest::newRow("bare line feeds") << QByteArray("GET / HTTP/1.0\n\n") << 0 << "/";
        QTest::newRow("encoded") << QByteArray("GET /a%20b?x=1 HTTP/1.1\r\n\r\n") << 0 << "/a b";
        QTest::newRow("broken escape") << QByteArray("GET /a%2 HTTP/1.1\r\n\r\n") << 400 << "";
        QTest::newRow("not utf-8") << QByteArray("GET /%ff HTTP/1.1\r\n\r\n") << 400 << "";
        QTest::newRow("absolute form") << QByteArray("GET http://x/ HTTP/1.1\r\n\r\n") << 400 << "";
        QTest::newRow("two spaces") << QByteArray("GET  / HTTP/1.1\r\n\r\n") << 400 << "";
        QTest::newRow("folded header")
            << QByteArray("GET / HTTP/1.1\r\nA: b\r\n c\r\n\r\n") << 400 << "";
        QTest::newRow("HTTP/2") << QByteArray("GET / HTTP/2.0\r\n\r\n") << 505 << "";
        QTest::newRow("chunked")
            << QByteArray("POST /api/start HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n") << 501
            << "";
        QTest::newRow("body on GET")
            << QByteArray("GET / HTTP/1.1\r\nContent-Length: 1\r\n\r\n") << 413 << "";
        QTest::newRow("long body")
            << QByteArray("POST /api/stop HTTP/1.1\r\nContent-Length: 4097\r\n\r\n") << 413 << "";
        QTest::newRow("two lengths")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n")
            << 400 << "";
        QTest::newRow("negative length")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n") << 400 << "";
        QTest::newRow("head too large")
            << "GET / HTTP/1.1\r\nX: " + QByteArray(web::kMaxHeadBytes, 'a') + "\r\n\r\n"
            << 431 << "";
        QTest::newRow("no end, too large") << QByteArray(web::kMaxHeadBytes + 1, 'a') << 431 << "";
    }
    void parseHead() {
        QFETCH(QByteArray, head);
        QFETCH(int, refusal);
        QFETCH(QString, path);
        const web::Head parsed = web::ParseHead(head);
        QCOMPARE(parsed.refusal, refusal);
        QCOMPARE(parsed.state, refusal ? web::HeadState::Refused : web::HeadState::Complete);
        QCOMPARE(parsed.request.path, refusal ? QString() : path);
    }

    void columnCells_data() {
        QTest::addColumn<float>("snr");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("rounded up") << 1.26f << QByteArray("1.3");
        QTest::newRow("whole") << 20.0f << QByteArray("20");
        QTest::newRow("negative") << -1.26f << QByteArray("-1.3");
        QTest::newRow("negative to whole") << -0.96f << QByteArray("-1");
        QTest::newRow("rounds to zero") << -0.04f << QByteArray("0");
        QTest::newRow("no audio") << float(NAN) << QByteArray("null");
        QTest::newRow("infinite") << float(INFINITY) << QByteArray("null");
        QTest::newRow("beyond any SNR") << 3e38f << QByteArray("1000000");
    }
    void columnCells() {
        QFETCH(float, snr);
        QFETCH(QByteArray, text);
        const QByteArray event = web::ColumnEvent({"A", QDateTime(), 0, 2000, {snr, 5.0f}});
        QVERIFY2(event.contains("\"snr_db\":[" + text + ",5]}\n\n"), event.constData());
        const QJsonObject data =
            QJsonDocument::fromJson(event.mid(event.indexOf("data: ") + 6)).object();
        QCOMPARE(data["khz"].toDouble(), 2000.0);
    }

    void listenAddress_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("address"); // "": refused
        QTest::addColumn<int>("port");
        QTest::newRow("port") << "8073"
                              << "127.0.0.1" << 8073;
        QTest::newRow("v4") << "0.0.0.0:80"
                            << "0.0.0.0" << 80;
        QTest::newRow("v6") << "[::1]:8073"
                            << "::1" << 8073;
        QTest::newRow("v6 without brackets") << "::1:8073"
                                             << "" << 0;
        QTest::newRow("v4 in brackets") << "[127.0.0.1]:1"
                                        << "" << 0;
        QTest::newRow("port 0") << "0"
                                << "" << 0;
        QTest::newRow("port too high") << "65536"
                                       << "" << 0;
        QTest::newRow("host name") << "example.org:80"
                                   << "" << 0;
        QTest::newRow("signed port") << "+80"
                                     << "" << 0;
    }
    void listenAddress() {
        QFETCH(QString, text);
        QFETCH(QString, address);
        QFETCH(int, port);
        const auto parsed = web::ParseListenAddress(text);
        QCOMPARE(parsed.has_value(), !address.isEmpty());
        if (parsed) {
            QCOMPARE(parsed->address.toString(), address);
            QCOMPARE(int(parsed->port), port);
        }
    }

    // Every way out of the archive folder answers 404 and reads nothing outside it.
    void archiveTraversal_data() {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<int>("status");
        QTest::newRow("listed picture") << QByteArray("/archive/") + kPng << 200;
        QTest::newRow("listed table") << QByteArray("/archive/") + kTable << 200;
        QTest::newRow("day file") << QByteArray("/archive/scaled-2026-12-07.csv") << 200;
        QTest::newRow("parent") << QByteArray("/archive/../secret.png") << 404;
        QTest::newRow("parent twice") << QByteArray("/archive/../../etc/passwd") << 404;
        QTest::newRow("encoded parent") << QByteArray("/archive/%2e%2e%2fsecret.png") << 404;
        QTest::newRow("encoded slash") << QByteArray("/archive/..%2Fsecret.png") << 404;
        QTest::newRow("backslash") << QByteArray("/archive/..%5csecret.png") << 404;
        QTest::newRow("absolute") << QByteArray("/archive//etc/passwd") << 404;
        QTest::newRow("encoded absolute") << QByteArray("/archive/%2Fetc%2Fpasswd") << 404;
        QTest::newRow("nul") << QByteArray("/archive/x.png%00.csv") << 404;
        QTest::newRow("symlink out") << QByteArray("/archive/link.png") << 404;
        QTest::newRow("not listed") << QByteArray("/archive/20261207-000000Z-c1.png") << 404;
        QTest::newRow("folder") << QByteArray("/archive/") << 404;
        QTest::newRow("dot") << QByteArray("/archive/.") << 404;
        QTest::newRow("other suffix") << QByteArray("/archive/settings.ini") << 404;
        QTest::newRow("above api") << QByteArray("/api/../archive/") + kPng << 404;
    }
    void archiveTraversal() {
        QFETCH(QByteArray, target);
        QFETCH(int, status);
        const auto reply = Exchange(Port(), RequestText("GET", target));
        QCOMPARE(reply.status, status);
        QVERIFY(!reply.body.contains(kSecret));
        if (reply.status == 200) {
            QVERIFY(reply.body.startsWith("2026") || reply.body.startsWith("sweep_start_utc"));
        }
    }

    void routes_data() {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QString>("field"); // a path through the answer: "a.0.b"
        QTest::addColumn<QVariant>("value");
        QTest::newRow("status") << QByteArray("/api/status") << "activity" << QVariant("stepping");
        QTest::newRow("status radio")
            << QByteArray("/api/status") << "radio.backend" << QVariant("civ");
        QTest::newRow("status problems")
            << QByteArray("/api/status") << "problems.0" << QVariant("The radio did not answer.");
        QTest::newRow("status bands")
            << QByteArray("/api/status") << "bands.0.name" << QVariant("160 m");
        QTest::newRow("followed") << QByteArray("/api/sounders") << "followed.0.chirp_time_s"
                                  << QVariant(78.0);
        QTest::newRow("heard") << QByteArray("/api/sounders") << "heard.0.snr_db" << QVariant(14.5);
        QTest::newRow("scaled number")
            << QByteArray("/api/scaled?date=2026-12-07") << "rows.0.mof_khz" << QVariant(7100.5);
        QTest::newRow("scaled name that looks numeric")
            << QByteArray("/api/scaled?date=2026-12-07") << "rows.0.sounder" << QVariant("1234");
        QTest::newRow("scaled quoted")
            << QByteArray("/api/scaled?date=2026-12-07") << "rows.1.sounder" << QVariant("A, B");
        QTest::newRow("scaled nan")
            << QByteArray("/api/scaled?date=2026-12-07") << "rows.1.mof_khz" << QVariant();
        QTest::newRow("scaled empty")
            << QByteArray("/api/scaled?date=2026-12-07") << "rows.1.mode" << QVariant();
        QTest::newRow("other day")
            << QByteArray("/api/scaled?date=2026-12-06") << "rows.0" << QVariant();
        QTest::newRow("ionograms") << QByteArray("/api/ionograms?date=2026-12-07") << "sweeps.0.png"
                                   << QVariant(QString("/archive/") + kPng);
        QTest::newRow("ionogram sounder") << QByteArray("/api/ionograms?date=2026-12-07")
                                          << "sweeps.0.sounder" << QVariant("Cyprus");
        QTest::newRow("latest cells") << QByteArray("/api/ionogram/latest?sounder=Cyprus")
                                      << "columns.0.snr_db.0" << QVariant(1.3);
        QTest::newRow("latest cell without audio")
            << QByteArray("/api/ionogram/latest") << "columns.0.snr_db.1" << QVariant();
        QTest::newRow("latest mof") << QByteArray("/api/ionogram/latest?sounder=Cyprus")
                                    << "scaled.traces.0.mof_khz" << QVariant(7100.0);
        QTest::newRow("latest mode") << QByteArray("/api/ionogram/latest?sounder=Cyprus")
                                     << "scaled.traces.0.mode" << QVariant("1F");
        QTest::newRow("no such sounder")
            << QByteArray("/api/ionogram/latest?sounder=Nowhere") << "error"
            << QVariant("No sweep of that sounder has "
                        "been received.");
        QTest::newRow("bad date") << QByteArray("/api/scaled?date=2026-12-7") << "error"
                                  << QVariant("date is a UTC date as YYYY-MM-DD.");
    }
    void routes() {
        QFETCH(QByteArray, target);
        QFETCH(QString, field);
        QFETCH(QVariant, value);
        const auto reply = Exchange(Port(), RequestText("GET", target));
        QJsonValue found = JsonOf(reply);
        QCOMPARE(found["version"].toInt(), web::kApiVersion);
        for (const QString& step : field.split('.')) {
            bool index = false;
            const int i = step.toInt(&index);
            found = index ? found[i] : found[step];
        }
        if (!value.isValid()) {
            QVERIFY2(found.isNull() || found.isUndefined(), reply.body.constData());
        } else if (value.typeId() == QMetaType::Double) {
            QVERIFY2(std::abs(found.toDouble(NAN) - value.toDouble()) < 1e-9,
                     reply.body.constData());
        } else {
            QCOMPARE(found.toVariant(), value);
        }
        QCOMPARE(reply.Header("Content-Security-Policy"), QByteArray(web::kContentSecurityPolicy));
    }

    void page_isServedFromTheProgram() {
        for (const char* target : {"/", "/app.js", "/style.css"}) {
            const auto reply = Exchange(Port(), RequestText("GET", target));
            QCOMPARE(reply.status, 200);
            QVERIFY(!reply.body.isEmpty());
            QVERIFY2(!reply.body.contains("http://") && !reply.body.contains("https://"), target);
        }
    }

    void network_servesTheCollectorsMapAndTellsTheStream() {
        QCOMPARE(JsonOf(Exchange(Port(), RequestText("GET", "/api/network")))["collecting"],
                 QJsonValue(false));
        // A path from Fiji to a sounder across the date line, scaled ten minutes ago.
        network::ScaledRecord record;
        record.station = "3D2AB";
        record.locator = QString::fromStdString(geo::LocatorOf({-17.5, 178.5}));
        record.sounder = "Samoa";
        record.sweepStartUtc = QDateTime(QDate(2026, 12, 7), QTime(10, 0), Qt::UTC);
        record.sounderLat = -13.8;
        record.sounderLon = -171.8;
        network::TraceRecord trace;
        trace.trace = 1;
        trace.midpointLat = -15.7;
        trace.midpointLon = -176.7;
        trace.fof2Mhz = 7.5;
        record.traces = {trace};
        network::NetworkPicture picture;
        network::AddSweep(picture, record);
        face->ShowNetwork(
            {[&] { return network::NetworkMapJson(picture, record.sweepStartUtc.addSecs(600)); },
             &network::LandJson});
        const QJsonObject map = JsonOf(Exchange(Port(), RequestText("GET", "/api/network")));
        QCOMPARE(map["version"].toInt(), web::kApiVersion);
        QCOMPARE(map["collecting"], QJsonValue(true));
        const QJsonObject path = map["paths"][0].toObject();
        QCOMPARE(path["station"].toString(), QString("3D2AB"));
        QCOMPARE(path["age_s"].toInt(), 600);
        QCOMPARE(path["fof2_mhz"].toDouble(), 7.5);
        QVERIFY(path["mof_khz"].isNull());
        const QJsonArray line = path["line"].toArray();
        QVERIFY(line.size() > 2);
        QCOMPARE(line.last(), QJsonValue(QJsonArray{-13.8, -171.8}));
        QCOMPARE(map["stations"][0]["sweeps"].toInt(), 1);
        const auto land = Exchange(Port(), RequestText("GET", "/api/network/land"));
        QVERIFY(JsonOf(land)["rings"].toArray().size() > 100);

        QTcpSocket reader;
        reader.connectToHost(QHostAddress(QHostAddress::LocalHost), Port());
        QVERIFY(reader.waitForConnected());
        reader.write("GET /api/events HTTP/1.1\r\n\r\n");
        QTRY_COMPARE(face->Front().Streams(), 1);
        face->OnNetworkChanged();
        QByteArray received;
        QTRY_VERIFY((received += reader.readAll()).contains("event: network\n"));
        QVERIFY2(received.contains(R"("paths":1)"), received.constData());
    }

    void commands_data() {
        QTest::addColumn<QByteArray>("token");       // set by the owner
        QTest::addColumn<QList<QByteArray>>("sent"); // header lines
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<int>("status");
        const QByteArray right = QByteArray("Authorization: Bearer ") + kToken;
        QTest::newRow("no token set")
            << QByteArray() << QList<QByteArray>{right} << QByteArray("/api/start") << 403;
        QTest::newRow("missing") << QByteArray(kToken) << QList<QByteArray>{}
                                 << QByteArray("/api/start") << 401;
        QTest::newRow("wrong") << QByteArray(kToken)
                               << QList<QByteArray>{"Authorization: Bearer s3cret-tokem"}
                               << QByteArray("/api/start") << 401;
        QTest::newRow("prefix") << QByteArray(kToken)
                                << QList<QByteArray>{"Authorization: Bearer s3cret"}
                                << QByteArray("/api/start") << 401;
        QTest::newRow("basic") << QByteArray(kToken)
                               << QList<QByteArray>{QByteArray("Authorization: Basic ") + kToken}
                               << QByteArray("/api/start") << 401;
        QTest::newRow("in the URL") << QByteArray(kToken) << QList<QByteArray>{}
                                    << QByteArray("/api/start?access_token=") + kToken << 401;
        QTest::newRow("start") << QByteArray(kToken) << QList<QByteArray>{right}
                               << QByteArray("/api/start") << 202;
        QTest::newRow("stop") << QByteArray(kToken) << QList<QByteArray>{right}
                              << QByteArray("/api/stop") << 202;
    }
    void commands() {
        QFETCH(QByteArray, target);
        QFETCH(int, status);
        QFETCH(QByteArray, token);
        QFETCH(QList<QByteArray>, sent);
        face->SetToken(token);
        const auto reply = Exchange(Port(), RequestText("POST", target, sent));
        QCOMPARE(reply.status, status);
        const QString command = QString(target).section('/', 2).section('?', 0, 0);
        QCOMPARE(done, status == 202 ? QStringList{command} : QStringList{});
        QVERIFY(Exchange(Port(), RequestText("GET", target)).status == 405);
        QCOMPARE(done.size(), status == 202 ? 1 : 0);
    }

    void commandBodies_data() {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("done"); // "": refused with 400
        QTest::newRow("follow") << QByteArray("/api/follow")
                                << QByteArray(R"({"sounders":["A","B"]})") << "follow A,B";
        QTest::newRow("follow, no list") << QByteArray("/api/follow") << QByteArray("{}") << "";
        QTest::newRow("listen") << QByteArray("/api/listen")
                                << QByteArray(R"({"khz":[7000,10100]})") << "listen 2";
        QTest::newRow("listen, out of range")
            << QByteArray("/api/listen") << QByteArray(R"({"khz":[70]})") << "";
        QTest::newRow("listen, text")
            << QByteArray("/api/listen") << QByteArray(R"({"khz":["7000"]})") << "";
    }
    void commandBodies() {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, body);
        QFETCH(QString, done);
        face->SetToken(kToken);
        const auto reply =
            Exchange(Port(), RequestText("POST", target,
                                         {QByteArray("Authorization: Bearer ") + kToken}, body));
        QCOMPARE(reply.status, done.isEmpty() ? 400 : 202);
        QCOMPARE(this->done, done.isEmpty() ? QStringList{} : QStringList{done});
    }

    void oversizedHead_isRefusedAndClosed() {
        const QByteArray head = "GET / HTTP/1.1\r\nX: " + QByteArray(3 * web::kMaxHeadBytes, 'a');
        const auto reply = Exchange(Port(), head); // never ends its head
        QCOMPARE(reply.status, 431);
        QVERIFY(reply.closed);
    }

    void keepAlive_servesRequestsInTurn() {
        const QByteArray two = "GET /api/status HTTP/1.1\r\n\r\nGET /api/sounders HTTP/1.1\r\n"
                               "Connection: close\r\n\r\n";
        const auto reply = Exchange(Port(), two);
        QCOMPARE(reply.status, 200);
        QVERIFY(reply.body.contains("\"followed\"") && reply.body.contains("\"heard\""));
    }

    void headOfStream_isHeadersOnly() {
        const auto reply = Exchange(Port(), RequestText("HEAD", "/api/events"));
        QCOMPARE(reply.status, 200);
        QVERIFY(reply.closed);
        QCOMPARE(reply.body, QByteArray());
        QCOMPARE(face->Front().Streams(), 0);
    }

    void connections_beyondTheLimitAreRefused() {
        std::vector<std::unique_ptr<QTcpSocket>> open;
        for (int i = 0; i < web::HttpFront::kMaxConnections; ++i) {
            open.push_back(std::make_unique<QTcpSocket>());
            open.back()->connectToHost(QHostAddress(QHostAddress::LocalHost), Port());
        }
        QTRY_COMPARE(face->Front().Connections(), web::HttpFront::kMaxConnections);
        QCOMPARE(Exchange(Port(), RequestText("GET", "/api/status")).status, 503);
        open.pop_back();
        QTRY_COMPARE(face->Front().Connections(), web::HttpFront::kMaxConnections - 1);
        QCOMPARE(Exchange(Port(), RequestText("GET", "/api/status")).status, 200);
    }

    void idleConnection_isClosed() {
        face->Front().SetIdleTimeout(std::chrono::milliseconds(100));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress(QHostAddress::LocalHost), Port());
        QVERIFY(socket.waitForConnected());
        socket.write("GET / HTTP/1.1\r\n"); // and no more
        QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(face->Front().Connections(), 0);
    }

    void stream_carriesColumnsAndDropsAStalledReader() {
        QTcpSocket reader;
        QTcpSocket stalled;
        for (QTcpSocket* socket : {&reader, &stalled}) {
            socket->connectToHost(QHostAddress(QHostAddress::LocalHost), Port());
            QVERIFY(socket->waitForConnected());
            socket->write("GET /api/events HTTP/1.1\r\n\r\n");
        }
        QTRY_COMPARE(face->Front().Streams(), 2);
        stalled.setReadBufferSize(1); // reads nothing more from here on
        face->OnColumnAdded({"Cyprus", QDateTime(), 3, 2150, {12.34f, NAN}});
        QByteArray received;
        QTRY_VERIFY((received += reader.readAll())
                        .contains("\n\n"
                                  "event: column\n"));
        QVERIFY(received.contains(R"("index":3,"khz":2150,)"));
        QVERIFY(received.contains(R"("snr_db":[12.3,null]})"));
        // The stalled reader's queue passes its bound long before 64 MB have been offered; the
        // reader that reads keeps up.
        const feed::Column wide{"Cyprus", QDateTime(), 0, 2000, std::vector<float>(8000, 10.5f)};
        for (int i = 0; i < 2000 && face->Front().DroppedStreams() == 0; ++i) {
            face->OnColumnAdded(wide);
            reader.readAll();
            QCoreApplication::processEvents();
        }
        QCOMPARE(face->Front().DroppedStreams(), qint64(1));
        QTRY_COMPARE(face->Front().Streams(), 1);
    }
};

QTEST_GUILESS_MAIN(TestWeb)
#include "tst_web.moc"
