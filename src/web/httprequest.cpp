#include "web/httprequest.h"

#include "core/units.h"

#include <QCryptographicHash>
#include <QStringDecoder>
#include <algorithm>

namespace web {

namespace {

constexpr int kMaxNameLength = 255;
constexpr int kMaxContentLengthDigits = 18;

Head Refused(int status) {
    Head head;
    head.state = HeadState::Refused;
    head.refusal = status;
    return head;
}

// RFC 9110's tchar: what a method and a header name are made of.
bool IsToken(QByteArrayView text) {
    if (text.isEmpty()) {
        return false;
    }
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
    });
}

// A request target in origin form: '/' then visible ASCII, no fragment.
bool IsOriginForm(QByteArrayView target) {
    return target.startsWith('/') && std::all_of(target.begin(), target.end(), [](char c) {
               return c > ' ' && c < 0x7f && c != '#';
           });
}

std::optional<std::map<QString, QString>> ParseQuery(const QByteArray& text) {
    std::map<QString, QString> query;
    for (const QByteArray& pair : text.split('&')) {
        if (pair.isEmpty()) {
            continue;
        }
        const qsizetype equals = pair.indexOf('=');
        QByteArray name(pair.left(equals < 0 ? pair.size() : equals));
        QByteArray value = equals < 0 ? QByteArray() : pair.mid(equals + 1);
        const auto decodedName = PercentDecoded(name.replace('+', ' '));
        const auto decodedValue = PercentDecoded(value.replace('+', ' '));
        if (!decodedName || !decodedValue) {
            return std::nullopt;
        }
        query[*decodedName] = *decodedValue;
    }
    return query;
}

int HexDigit(char c) {
    constexpr int kTen = 10;
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + kTen;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + kTen;
    }
    return -1;
}

} // namespace

std::optional<QString> PercentDecoded(QByteArrayView text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            bytes.append(text[i]);
            continue;
        }
        const int high = i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.append(static_cast<char>(high * units::kHexBase + low));
        i += 2;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return decoded;
}

Head ParseHead(const QByteArray& buffer) {
    // Empty lines before the request line are skipped, as HTTP/1.1 asks of a server.
    qsizetype start = 0;
    while (start < buffer.size() && (buffer[start] == '\r' || buffer[start] == '\n')) {
        ++start;
    }
    const qsizetype crlf = buffer.indexOf("\r\n\r\n", start);
    const qsizetype lf = buffer.indexOf("\n\n", start);
    qsizetype end = -1;
    if (crlf >= 0 && (lf < 0 || crlf < lf)) {
        end = crlf + 4;
    } else if (lf >= 0) {
        end = lf + 2;
    }
    if (end < 0) {
        return buffer.size() > kMaxHeadBytes ? Refused(431) : Head{};
    }
    if (end > kMaxHeadBytes) {
        return Refused(431);
    }
    QList<QByteArray> lines = buffer.mid(start, end - start).split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
    }
    lines.removeAll(QByteArray());
    if (lines.isEmpty()) {
        return Refused(400);
    }
    const QList<QByteArray> parts = lines.takeFirst().split(' ');
    if (parts.size() != 3 || !IsToken(parts[0])) {
        return Refused(400);
    }
    Request request;
    request.method = parts[0];
    request.target = parts[1];
    const QByteArray& version = parts[2];
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        return Refused(version.startsWith("HTTP/") ? 505 : 400);
    }
    if (!IsOriginForm(request.target)) {
        return Refused(400);
    }
    const qsizetype question = request.target.indexOf('?');
    const auto path =
        PercentDecoded(request.target.left(question < 0 ? request.target.size() : question));
    const auto query = question < 0 ? std::optional<std::map<QString, QString>>(std::in_place)
                                    : ParseQuery(request.target.mid(question + 1));
    if (!path || !query) {
        return Refused(400);
    }
    request.path = *path;
    request.query = *query;
    if (lines.size() > kMaxHeaders) {
        return Refused(431);
    }
    for (const QByteArray& line : lines) {
        const qsizetype colon = line.indexOf(':');
        // A header folded onto a second line (leading white space) is refused, as RFC 9112 says.
        if (colon <= 0 || !IsToken(line.left(colon))) {
            return Refused(400);
        }
        const QByteArray name = line.left(colon).toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        const auto [at, added] = request.headers.emplace(name, value);
        if (!added && name == "content-length" && at->second != value) {
            return Refused(400);
        }
        if (!added && name != "content-length") {
            at->second += ", " + value;
        }
    }
    if (request.headers.contains("transfer-encoding")) {
        return Refused(501);
    }
    if (const auto length = request.headers.find("content-length");
        length != request.headers.end()) {
        const QByteArray& digits = length->second;
        if (digits.isEmpty() || digits.size() > kMaxContentLengthDigits ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            return Refused(400);
        }
        request.contentLength = digits.toLongLong();
    }
    // Only the commands (POST) carry a body, and a short one.
    if (request.contentLength > kMaxBodyBytes ||
        (request.contentLength > 0 && request.method != "POST")) {
        return Refused(413);
    }
    const QByteArray connection = request.headers.contains("connection")
                                      ? request.headers.at("connection").toLower()
                                      : QByteArray();
    request.keepAlive =
        version == "HTTP/1.1" ? !connection.contains("close") : connection.contains("keep-alive");
    Head head;
    head.state = HeadState::Complete;
    head.request = std::move(request);
    head.headBytes = static_cast<int>(end);
    return head;
}

Resolved Resolve(const QByteArray& method, const QString& path) {
    struct Fixed {
        const char* path;
        Route route;
    };
    static const Fixed kFixed[] = {
        {"/", Route::Page},
        {"/index.html", Route::Page},
        {"/app.js", Route::Script},
        {"/style.css", Route::Style},
        {"/api/status", Route::Status},
        {"/api/sounders", Route::Sounders},
        {"/api/scaled", Route::Scaled},
        {"/api/ionograms", Route::Ionograms},
        {"/api/ionogram/latest", Route::LatestIonogram},
        {"/api/events", Route::Events},
        {"/api/network", Route::Network},
        {"/api/network/land", Route::NetworkLand},
        {"/api/start", Route::Start},
        {"/api/stop", Route::Stop},
        {"/api/follow", Route::Follow},
        {"/api/listen", Route::Listen},
    };
    Resolved resolved;
    static const QString kArchive = QStringLiteral("/archive/");
    if (path.startsWith(kArchive)) {
        const QString name = path.mid(kArchive.size());
        if (PlainArchiveName(name)) {
            resolved = {Route::Archive, name};
        }
    } else {
        for (const Fixed& fixed : kFixed) {
            if (path == QLatin1String(fixed.path)) {
                resolved.route = fixed.route;
            }
        }
    }
    if (resolved.route == Route::NotFound) {
        return resolved;
    }
    const bool read = method == "GET" || method == "HEAD";
    if (IsCommand(resolved.route) ? method != "POST" : !read) {
        return {Route::WrongMethod, QString()};
    }
    return resolved;
}

bool IsCommand(Route route) {
    return route == Route::Start || route == Route::Stop || route == Route::Follow ||
           route == Route::Listen;
}

bool PlainArchiveName(const QString& name) {
    if (name.isEmpty() || name.size() > kMaxNameLength || name.startsWith(QLatin1Char('.'))) {
        return false;
    }
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') ||
            c.unicode() < 0x20 || c.unicode() == 0x7f) {
            return false;
        }
    }
    return name.endsWith(QLatin1String(".png")) || name.endsWith(QLatin1String(".csv.gz")) ||
           name.endsWith(QLatin1String(".csv"));
}

QByteArray ContentTypeOf(const QString& name) {
    static const std::pair<const char*, const char*> kTypes[] = {
        {".png", "image/png"},
        {".csv.gz", "application/gzip"},
        {".csv", "text/csv; charset=utf-8"},
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},
    };
    for (const auto& [suffix, type] : kTypes) {
        if (name.endsWith(QLatin1String(suffix))) {
            return type;
        }
    }
    return "application/octet-stream";
}

std::optional<QByteArray> BearerToken(const Request& request) {
    const auto header = request.headers.find("authorization");
    if (header == request.headers.end()) {
        return std::nullopt;
    }
    const QByteArray& value = header->second;
    constexpr QByteArrayView kScheme("bearer ");
    if (value.size() <= kScheme.size() || value.left(kScheme.size()).toLower() != kScheme) {
        return std::nullopt;
    }
    const QByteArray token = value.mid(kScheme.size()).trimmed();
    return token.isEmpty() ? std::nullopt : std::optional<QByteArray>(token);
}

bool SameToken(const QByteArray& given, const QByteArray& expected) {
    const QByteArray a = QCryptographicHash::hash(given, QCryptographicHash::Sha256);
    const QByteArray b = QCryptographicHash::hash(expected, QCryptographicHash::Sha256);
    unsigned difference = expected.isEmpty() ? 1 : 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        difference |= static_cast<unsigned>(static_cast<unsigned char>(a[i]) ^
                                            static_cast<unsigned char>(b[i]));
    }
    return difference == 0;
}

std::optional<ListenAddress> ParseListenAddress(const QString& text) {
    const QString trimmed = text.trimmed();
    QString host;
    QString port = trimmed;
    if (trimmed.startsWith(QLatin1Char('['))) {
        const qsizetype close = trimmed.indexOf(QLatin1String("]:"));
        if (close < 0) {
            return std::nullopt;
        }
        host = trimmed.mid(1, close - 1);
        port = trimmed.mid(close + 2);
    } else if (trimmed.count(QLatin1Char(':')) == 1) {
        host = trimmed.section(QLatin1Char(':'), 0, 0);
        port = trimmed.section(QLatin1Char(':'), 1);
    } else if (trimmed.contains(QLatin1Char(':'))) {
        return std::nullopt; // an IPv6 address needs its brackets
    }
    ListenAddress result;
    result.address = QHostAddress(QHostAddress::LocalHost);
    if (host == QLatin1String("localhost")) {
        host.clear();
    }
    if (!host.isEmpty() && !result.address.setAddress(host)) {
        return std::nullopt;
    }
    if (trimmed.startsWith(QLatin1Char('[')) &&
        result.address.protocol() != QAbstractSocket::IPv6Protocol) {
        return std::nullopt;
    }
    bool ok = false;
    const uint number = port.toUInt(&ok);
    constexpr uint kHighestPort = 65535;
    if (!ok || number == 0 || number > kHighestPort ||
        !std::all_of(port.begin(), port.end(), [](QChar c) { return c.isDigit(); })) {
        return std::nullopt;
    }
    result.port = static_cast<quint16>(number);
    return result;
}

QByteArray ReasonPhrase(int status) {
    static const std::map<int, const char*> kPhrases = {
        {200, "OK"},
        {202, "Accepted"},
        {204, "No Content"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {408, "Request Timeout"},
        {413, "Content Too Large"},
        {431, "Request Header Fields Too Large"},
        {500, "Internal Server Error"},
        {501, "Not Implemented"},
        {503, "Service Unavailable"},
        {505, "HTTP Version Not Supported"},
    };
    const auto phrase = kPhrases.find(status);
    return phrase == kPhrases.end() ? QByteArray("Unknown") : QByteArray(phrase->second);
}

} // namespace web
