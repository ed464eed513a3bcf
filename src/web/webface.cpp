#include "web/webface.h"

#include "core/version.h"
#include "ionogram/dayfile.h"
#include "sweep/profile.h"
#include "web/webjson.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStorageInfo>

// Resources of a static library are registered by hand, outside any namespace.
static void RegisterPage() {
    Q_INIT_RESOURCE(web);
}

namespace web {

namespace {

// A token file is a few bytes; anything larger is not one.
constexpr qint64 kLargestTokenFile = 4096;
// A stream client that lost the connection tries again after this long (ms).
constexpr int kStreamRetryMs = 2000;

Response Json(const QJsonObject& object, int status = 200) {
    return {status,
            "application/json",
            QJsonDocument(object).toJson(QJsonDocument::Compact),
            {},
            false};
}

Response Error(int status, const QString& message) {
    return Json({{"version", kApiVersion}, {"error", message}}, status);
}

Response Resource(const QString& name) {
    QFile file(QStringLiteral(":/web/") + name);
    if (!file.open(QIODevice::ReadOnly)) {
        return Error(500, QStringLiteral("The page's %1 is missing from the program.").arg(name));
    }
    return {200, ContentTypeOf(name), file.readAll(), {}, false};
}

// The file named in folder, read whole when it exists and is no larger than largest.
std::optional<QByteArray> ReadSmallFile(const QString& path, qint64 largest) {
    QFile file(path);
    if (file.size() > largest || !file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.read(largest);
}

} // namespace

WebFace::WebFace(std::function<feed::Snapshot()> snap, Commands commands, QObject* parent)
    : QObject(parent), snap(std::move(snap)), commands(std::move(commands)),
      front([this](const Request& request) { return Handle(request); }) {
    RegisterPage();
    stateGap.setSingleShot(true);
    stateGap.setInterval(kStateEventGap);
    connect(&stateGap, &QTimer::timeout, this, [this] {
        if (statePending) {
            SendState();
        }
    });
    networkGap.setSingleShot(true);
    networkGap.setInterval(kNetworkEventGap);
    connect(&networkGap, &QTimer::timeout, this, [this] {
        if (networkPending) {
            OnNetworkChanged();
        }
    });
}

QString WebFace::Listen(const QHostAddress& address, quint16 port) {
    return front.Listen(address, port);
}

QString WebFace::Url() const {
    const QHostAddress address = front.Address();
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(address.toString())
                             : address.toString();
    return QStringLiteral("http://%1:%2/").arg(host).arg(front.Port());
}

QByteArray WebFace::StatusBody() {
    const feed::Snapshot snapshot = snap();
    StatusExtras extras{QDateTime::currentDateTimeUtc(), std::nullopt,
                        QString::fromLatin1(tavmirok::kVersion)};
    if (!snapshot.archiveFolder.isEmpty()) {
        // The folder is made at the first archived sweep: until then, the disk it will be on.
        QString path = QDir(snapshot.archiveFolder).absolutePath();
        while (!QFileInfo::exists(path) && path != QDir::rootPath()) {
            path = QFileInfo(path).path();
        }
        const QStorageInfo storage(path);
        if (storage.isValid()) {
            extras.freeBytes = storage.bytesAvailable();
        }
    }
    return QJsonDocument(StatusJson(snapshot, extras)).toJson(QJsonDocument::Compact);
}

Response WebFace::Handle(const Request& request) {
    const Resolved resolved = Resolve(request.method, request.path);
    const auto query = [&request](const char* name) -> std::optional<QString> {
        const auto found = request.query.find(QLatin1String(name));
        return found == request.query.end() ? std::nullopt : std::optional(found->second);
    };
    switch (resolved.route) {
    case Route::Page:
        return Resource(QStringLiteral("index.html"));
    case Route::Script:
        return Resource(QStringLiteral("app.js"));
    case Route::Style:
        return Resource(QStringLiteral("style.css"));
    case Route::Status:
        return {200, "application/json", StatusBody(), {}, false};
    case Route::Sounders:
        return Json(SoundersJson(snap()));
    case Route::Scaled:
    case Route::Ionograms: {
        const auto date = QueryDate(query("date"), QDateTime::currentDateTimeUtc().date());
        if (!date) {
            return Error(400, QStringLiteral("date is a UTC date as YYYY-MM-DD."));
        }
        const QString folder = snap().archiveFolder;
        if (resolved.route == Route::Ionograms) {
            return Json(IonogramsJson(
                *date, folder.isEmpty() ? QStringList() : QDir(folder).entryList(QDir::Files)));
        }
        const auto text =
            folder.isEmpty()
                ? std::nullopt
                : ReadSmallFile(QDir(folder).filePath(ionogram::DayFileName(*date)), kLargestFile);
        return Json(ScaledDayJson(*date, text.value_or(QByteArray())));
    }
    case Route::LatestIonogram: {
        const auto latest = LatestIonogramJson(snap(), query("sounder"));
        return latest ? Response{200, "application/json", *latest, {}, false}
                      : Error(404, QStringLiteral("No sweep of that sounder has been received."));
    }
    case Route::Events: {
        Response response;
        response.contentType = "text/event-stream";
        response.stream = true;
        response.body = "retry: " + QByteArray::number(kStreamRetryMs) + "\n\n" +
                        StreamEvent("state", QJsonDocument::fromJson(StatusBody()).object());
        return response;
    }
    case Route::Network:
    case Route::NetworkLand: {
        // A station's page asks too, and learns that it shows a station.
        if (!network.map) {
            return resolved.route == Route::Network
                       ? Json({{"version", kApiVersion}, {"collecting", false}})
                       : Error(404, QStringLiteral("This program collects no network: run it "
                                                   "with --collect."));
        }
        if (resolved.route == Route::NetworkLand) {
            return {200, "application/json", network.land(), {}, false};
        }
        QJsonObject map = network.map();
        map.insert(QLatin1String("version"), kApiVersion);
        map.insert(QLatin1String("collecting"), true);
        return Json(map);
    }
    case Route::Archive:
        return Archive(resolved.archiveName);
    case Route::Start:
    case Route::Stop:
    case Route::Follow:
    case Route::Listen:
        return Command(request, resolved.route);
    case Route::WrongMethod: {
        Response response = Error(405, QStringLiteral("Not with this method."));
        response.headers.emplace_back(
            "Allow", IsCommand(Resolve("POST", request.path).route) ? "POST" : "GET, HEAD");
        return response;
    }
    case Route::NotFound:
        break;
    }
    return Error(404, QStringLiteral("Nothing here."));
}

Response WebFace::Archive(const QString& name) const {
    const QString folder = snap().archiveFolder;
    const QDir dir(folder);
    // Only a name the folder itself lists, and only a file that really lies inside it (a
    // symbolic link may point anywhere).
    if (folder.isEmpty() || !dir.entryList(QDir::Files | QDir::Hidden).contains(name)) {
        return Error(404, QStringLiteral("Nothing here."));
    }
    const QString real = QFileInfo(dir.filePath(name)).canonicalFilePath();
    const QString inside = dir.canonicalPath() + QLatin1Char('/');
    const auto content = real.startsWith(inside) && QFileInfo(real).isFile()
                             ? ReadSmallFile(real, kLargestFile)
                             : std::nullopt;
    if (!content) {
        return Error(404, QStringLiteral("Nothing here."));
    }
    return {200, ContentTypeOf(name), *content, {}, false};
}

Response WebFace::Command(const Request& request, Route route) {
    if (token.isEmpty()) {
        return Error(403, QStringLiteral("Commands are off: the owner has set no access token."));
    }
    const auto given = BearerToken(request);
    if (!given || !SameToken(*given, token)) {
        Response response = Error(401, QStringLiteral("A command needs the access token, sent "
                                                      "as Authorization: Bearer TOKEN."));
        response.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"tavmirok\"");
        return response;
    }
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    switch (route) {
    case Route::Start:
        commands.start();
        emit CommandAccepted(QStringLiteral("start"));
        break;
    case Route::Stop:
        commands.stop();
        emit CommandAccepted(QStringLiteral("stop"));
        break;
    case Route::Follow: {
        const QJsonValue sounders = body.value("sounders");
        if (!sounders.isArray()) {
            return Error(400, QStringLiteral("Send {\"sounders\": [NAME, ...]} (none: the single "
                                             "sounder)."));
        }
        QStringList names;
        for (const QJsonValue& name : sounders.toArray()) {
            names << name.toString();
        }
        commands.follow(names);
        emit CommandAccepted(QStringLiteral("follow ") + names.join(QStringLiteral(", ")));
        break;
    }
    case Route::Listen: {
        QStringList texts;
        for (const QJsonValue& khz : body.value("khz").toArray()) {
            texts << (khz.isDouble() ? QString::number(khz.toDouble(), 'f', 3) : QString());
        }
        std::vector<double> khz;
        if (!sweep::ParseListenList(texts.join(QLatin1Char(',')), &khz)) {
            return Error(400, QStringLiteral("Send {\"khz\": [FREQUENCY, ...]}, each from %1 to "
                                             "%2 kHz.")
                                  .arg(sweep::kLowestFrequency)
                                  .arg(sweep::kHighestFrequency));
        }
        commands.listen(khz);
        emit CommandAccepted(QStringLiteral("listen %1 kHz").arg(texts.join(QStringLiteral(", "))));
        break;
    }
    default:
        break;
    }
    return Json({{"version", kApiVersion}, {"accepted", true}}, 202);
}

void WebFace::SendState() {
    statePending = false;
    front.Broadcast(StreamEvent("state", QJsonDocument::fromJson(StatusBody()).object()));
    stateGap.start();
}

void WebFace::OnStateChanged() {
    if (front.Streams() == 0) {
        return;
    }
    if (stateGap.isActive()) {
        statePending = true;
        return;
    }
    SendState();
}

void WebFace::OnNetworkChanged() {
    if (networkGap.isActive()) {
        networkPending = true;
        return;
    }
    networkPending = false;
    if (front.Streams() > 0 && network.map) {
        const QJsonObject map = network.map();
        front.Broadcast(StreamEvent(
            "network", QJsonObject{{"latest_utc", map.value(QLatin1String("latest_utc"))},
                                   {"paths", map.value(QLatin1String("paths")).toArray().size()}}));
    }
    networkGap.start();
}

void WebFace::OnSweepStarted(const feed::SweepInfo& sweep) {
    front.Broadcast(StreamEvent("sweep-started", SweepStartedJson(sweep)));
}

void WebFace::OnSweepEnded(const QString& sounder, bool complete) {
    front.Broadcast(
        StreamEvent("sweep-ended", QJsonObject{{"sounder", sounder}, {"complete", complete}}));
}

void WebFace::OnStepTuned(const QString& sounder, std::int32_t hz, double atEpoch, bool reached) {
    constexpr double kHzPerKhz = 1000;
    front.Broadcast(StreamEvent(
        "step", QJsonObject{{"sounder", sounder},
                            {"khz", hz / kHzPerKhz},
                            {"at_utc", QDateTime::fromMSecsSinceEpoch(
                                           static_cast<qint64>(atEpoch * kHzPerKhz), Qt::UTC)
                                           .toString(Qt::ISODateWithMs)},
                            {"reached", reached}}));
}

void WebFace::OnColumnAdded(const feed::Column& column) {
    if (front.Streams() > 0) {
        front.Broadcast(ColumnEvent(column));
    }
}

void WebFace::OnScaled(const feed::Scaled& scaled) {
    front.Broadcast(StreamEvent("scaled", ScaledJson(scaled)));
}

void WebFace::OnArchived(const QString& png) {
    front.Broadcast(StreamEvent("archived", QJsonObject{{"png", ArchiveUrl(png)}}));
}

void WebFace::OnDayRecorded(const QString& csv, const QString& png) {
    front.Broadcast(
        StreamEvent("day", QJsonObject{{"csv", ArchiveUrl(csv)}, {"png", ArchiveUrl(png)}}));
}

void WebFace::OnHeardChanged(const std::vector<feed::HeardOn>& heard) {
    front.Broadcast(StreamEvent("heard", HeardJson(heard)));
}

void WebFace::OnProblem(const QString& message) {
    front.Broadcast(StreamEvent("problem", QJsonObject{{"message", message}}));
}

void WebFace::OnNotice(const QString& message) {
    front.Broadcast(StreamEvent("notice", QJsonObject{{"message", message}}));
}

QByteArray ReadTokenFile(const QString& path, QString* refusal) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *refusal = QStringLiteral("the token file %1 cannot be read (%2).")
                       .arg(QDir::toNativeSeparators(path), file.errorString());
        return {};
    }
    const QByteArray token = file.read(kLargestTokenFile + 1).trimmed();
    if (token.isEmpty() || token.size() > kLargestTokenFile) {
        *refusal = QStringLiteral("the token file %1 holds no token (or more than %2 bytes).")
                       .arg(QDir::toNativeSeparators(path))
                       .arg(kLargestTokenFile);
        return {};
    }
    refusal->clear();
    return token;
}

} // namespace web
