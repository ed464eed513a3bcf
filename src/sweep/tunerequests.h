#pragma once

// The tunings a scheduler has asked a backend for and not yet seen answered, each with what the
// scheduler keeps of it, and when a failure is told: a failed tuning is told once, and again only
// after one has reached the radio in between.

#include "rig/tuner.h"

#include <QtGlobal>
#include <map>
#include <optional>
#include <utility>

template <typename Request> class TuneRequests {
public:
    // Keeps the request and returns the id to tune it with.
    quint64 Add(Request request) {
        const quint64 id = Tuner::NewRequestId();
        requests.emplace(id, std::move(request));
        return id;
    }
    // The request the answer with this id belongs to, taken out; none for an id not asked here
    // or answered already.
    std::optional<Request> Take(quint64 id) {
        const auto found = requests.find(id);
        if (found == requests.end()) {
            return std::nullopt;
        }
        Request request = std::move(found->second);
        requests.erase(found);
        return request;
    }
    // Every request not yet answered, taken out (the backend was replaced).
    std::map<quint64, Request> TakeAll() { return std::exchange(requests, {}); }
    // Notes an answer; true when it is a failure the user has to be told of.
    bool FailureToTell(TuneOutcome outcome) {
        if (outcome == TuneOutcome::Reached) {
            failing = false;
        } else if (outcome == TuneOutcome::Failed && !failing) {
            failing = true;
            return true;
        }
        return false;
    }

private:
    std::map<quint64, Request> requests;
    bool failing = false;
};
