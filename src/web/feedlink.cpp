// The web face's wiring to the station's feed, apart from the face itself so that its tests,
// which stand in for the feed, link without a station.

#include "web/webface.h"

namespace web {

void Observe(WebFace* face, StationFeed* feed) {
    QObject::connect(feed, &StationFeed::SweepStarted, face, &WebFace::OnSweepStarted);
    QObject::connect(feed, &StationFeed::SweepEnded, face, &WebFace::OnSweepEnded);
    QObject::connect(feed, &StationFeed::StepTuned, face, &WebFace::OnStepTuned);
    QObject::connect(feed, &StationFeed::ColumnAdded, face, &WebFace::OnColumnAdded);
    QObject::connect(feed, &StationFeed::Scaled, face, &WebFace::OnScaled);
    QObject::connect(feed, &StationFeed::Archived, face, &WebFace::OnArchived);
    QObject::connect(feed, &StationFeed::DayRecorded, face, &WebFace::OnDayRecorded);
    QObject::connect(feed, &StationFeed::HeardChanged, face, &WebFace::OnHeardChanged);
    QObject::connect(feed, &StationFeed::Problem, face, &WebFace::OnProblem);
    QObject::connect(feed, &StationFeed::Notice, face, &WebFace::OnNotice);
    QObject::connect(feed, &StationFeed::StateChanged, face, &WebFace::OnStateChanged);
}

std::unique_ptr<WebFace> FaceOf(StationFeed* feed, QObject* parent) {
    Commands commands{
        [feed] { feed->Start(); },
        [feed] { feed->Stop(); },
        [feed](const QStringList& names) { feed->Follow(names); },
        [feed](const std::vector<double>& khz) { feed->Listen(khz); },
    };
    auto face =
        std::make_unique<WebFace>([feed] { return feed->Snap(); }, std::move(commands), parent);
    Observe(face.get(), feed);
    return face;
}

} // namespace web
