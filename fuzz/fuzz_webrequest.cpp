// libFuzzer target for what a web client sends: each input is the bytes a connection received.
// The request head is parsed as the server parses it, then routed; the bounds and the archive's
// naming rules must hold whatever the bytes, and the token and address parsers must not fail
// on any text.

#include "web/httprequest.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

void CheckRoute(const web::Request& request) {
    const web::Resolved resolved = web::Resolve(request.method, request.path);
    if (resolved.route == web::Route::Archive) {
        const QString& name = resolved.archiveName;
        Require(web::PlainArchiveName(name), "an archive route with a name that is not plain");
        Require(!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
                    !name.contains(QChar(0)) && !name.startsWith(QLatin1Char('.')),
                "an archive name that leaves the folder");
        Require(request.path == QStringLiteral("/archive/") + name, "a name not taken whole");
    }
    Require(!web::IsCommand(resolved.route) || request.method == "POST",
            "a command routed without POST");
    if (const auto token = web::BearerToken(request)) {
        Require(web::SameToken(*token, *token), "a token unequal to itself");
        Require(!web::SameToken(*token, *token + 'x'), "a token equal to a longer one");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const web::Head head = web::ParseHead(bytes);
    switch (head.state) {
    case web::HeadState::Incomplete:
        Require(bytes.size() <= web::kMaxHeadBytes, "an unended head past the bound kept open");
        break;
    case web::HeadState::Refused:
        Require(head.refusal >= 400 && head.refusal < 600, "a refusal that is no error status");
        break;
    case web::HeadState::Complete: {
        const web::Request& request = head.request;
        Require(head.headBytes > 0 && head.headBytes <= web::kMaxHeadBytes &&
                    head.headBytes <= bytes.size(),
                "a head beyond its bound");
        Require(request.path.startsWith(QLatin1Char('/')), "a path not from the root");
        Require(request.contentLength >= 0 && request.contentLength <= web::kMaxBodyBytes,
                "a body beyond its bound");
        Require(request.contentLength == 0 || request.method == "POST", "a body not on POST");
        CheckRoute(request);
        break;
    }
    }
    // Every prefix of a head that was read whole was incomplete or refused, never another head.
    if (head.state == web::HeadState::Complete && head.headBytes > 1) {
        const web::Head shorter = web::ParseHead(bytes.left(head.headBytes - 1));
        Require(shorter.state != web::HeadState::Complete ||
                    shorter.headBytes <= head.headBytes - 1,
                "a shorter input read as a longer head");
    }
    (void)web::PercentDecoded(bytes);
    (void)web::ParseListenAddress(QString::fromUtf8(bytes));
    return 0;
}
