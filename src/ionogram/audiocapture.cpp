#include "ionogram/audiocapture.h"

#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <pulse/pulseaudio.h>

namespace ionogram {

namespace {

constexpr const char* kClientName = "Tavmirok";
constexpr const char* kStreamName = "Ionogram audio";
constexpr std::chrono::seconds kListingWait{2};
constexpr std::uint32_t kServerDefault = std::uint32_t(-1); // pa_buffer_attr: let the server pick
constexpr pa_usec_t kMicrosecondsPerMs = 1000;

double EpochNow() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

QString Named(const QString& input) {
    return input.isEmpty() ? QStringLiteral("The default audio input")
                           : QStringLiteral("The audio input \"%1\"").arg(input);
}

// Sources as the server lists them, with whether each is the monitor of an output.
struct Listing {
    std::vector<AudioInput> inputs;
    std::vector<AudioInput> monitors;
    bool done = false;

    static void OnContext(pa_context* context, void* data) {
        auto* self = static_cast<Listing*>(data);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            if (pa_operation* listing =
                    pa_context_get_source_info_list(context, &Listing::OnSource, data)) {
                pa_operation_unref(listing);
            } else {
                self->done = true;
            }
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            self->done = true;
            break;
        default:
            break;
        }
    }

    static void OnSource(pa_context*, const pa_source_info* info, int last, void* data) {
        auto* self = static_cast<Listing*>(data);
        if (last != 0 || info == nullptr) {
            self->done = true;
            return;
        }
        const AudioInput input{QString::fromUtf8(info->name), QString::fromUtf8(info->description)};
        (info->monitor_of_sink == PA_INVALID_INDEX ? self->inputs : self->monitors)
            .push_back(input);
    }
};

} // namespace

std::vector<AudioInput> ListAudioInputs() {
    Listing listing;
    pa_mainloop* loop = pa_mainloop_new();
    if (loop == nullptr) {
        return {};
    }
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), kClientName);
    if (context != nullptr) {
        pa_context_set_state_callback(context, &Listing::OnContext, &listing);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
            // A server that does not answer leaves the list empty rather than the window stuck.
            using Clock = std::chrono::steady_clock;
            const Clock::time_point deadline = Clock::now() + kListingWait;
            while (!listing.done && Clock::now() < deadline) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
                if (pa_mainloop_prepare(loop, int(std::max<long long>(left.count(), 0))) < 0 ||
                    pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0) {
                    break;
                }
            }
            pa_context_disconnect(context);
        }
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    if (!listing.done) {
        return {};
    }
    listing.inputs.insert(listing.inputs.end(), listing.monitors.begin(), listing.monitors.end());
    return listing.inputs;
}

QString AudioOpenFailure(const QString& input, const QString& reason) {
    return QStringLiteral("%1 cannot be opened: %2. Choose an input in Configure > Audio "
                          "Input..., and check that the radio's USB audio is plugged in.")
        .arg(Named(input), reason);
}

QString AudioStopFailure(const QString& input, const QString& reason) {
    return QStringLiteral("%1 stopped delivering sound: %2. Choose another input in Configure > "
                          "Audio Input..., or check that the radio's USB audio is still plugged "
                          "in.")
        .arg(Named(input), reason);
}

QString AudioResumed(const QString& input) {
    return QStringLiteral("%1 is delivering sound again.").arg(Named(input));
}

// The server connection of one capture. Its callbacks run on the threaded main loop's own
// thread; Stop ends that thread before anything is freed, so no callback outlives the owner.
struct AudioCapture::Stream {
    AudioCapture* owner = nullptr;
    unsigned generation = 0;
    QByteArray source; // empty: the default input
    pa_sample_spec sampleFormat{};
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    bool opened = false;
    bool failed = false;
    QByteArray partial; // an odd byte left over from a fragment, completed by the next

    ~Stream() {
        if (loop != nullptr) {
            pa_threaded_mainloop_stop(loop);
        }
        if (stream != nullptr) {
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
        if (context != nullptr) {
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        if (loop != nullptr) {
            pa_threaded_mainloop_free(loop);
        }
    }

    void Fail(int error) {
        if (!failed) {
            failed = true;
            owner->Fail(generation, opened, QString::fromUtf8(pa_strerror(error)));
        }
    }

    static void OnContext(pa_context* context, void* data) {
        auto* self = static_cast<Stream*>(data);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            self->Record();
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            self->Fail(pa_context_errno(context));
            break;
        default:
            break;
        }
    }

    void Record() {
        stream = pa_stream_new(context, kStreamName, &sampleFormat, nullptr);
        if (stream == nullptr) {
            Fail(pa_context_errno(context));
            return;
        }
        pa_stream_set_state_callback(stream, &Stream::OnStream, this);
        pa_stream_set_read_callback(stream, &Stream::OnRead, this);
        pa_buffer_attr buffer{};
        buffer.maxlength = kServerDefault;
        buffer.tlength = kServerDefault;
        buffer.prebuf = kServerDefault;
        buffer.minreq = kServerDefault;
        buffer.fragsize = std::uint32_t(
            pa_usec_to_bytes(pa_usec_t(kFragmentMs * double(kMicrosecondsPerMs)), &sampleFormat));
        // A named input that goes away ends the capture instead of moving it to another card.
        const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY |
                                             (source.isEmpty() ? 0 : PA_STREAM_DONT_MOVE));
        if (pa_stream_connect_record(stream, source.isEmpty() ? nullptr : source.constData(),
                                     &buffer, flags) < 0) {
            Fail(pa_context_errno(context));
        }
    }

    static void OnStream(pa_stream* stream, void* data) {
        auto* self = static_cast<Stream*>(data);
        switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            self->opened = true;
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            self->Fail(pa_context_errno(pa_stream_get_context(stream)));
            break;
        default:
            break;
        }
    }

    static void OnRead(pa_stream* stream, std::size_t, void* data) {
        const double arrival = EpochNow(); // first: the time the fragment came in
        auto* self = static_cast<Stream*>(data);
        QByteArray bytes = self->partial;
        self->partial.clear();
        while (pa_stream_readable_size(stream) > 0) {
            const void* fragment = nullptr;
            std::size_t size = 0;
            if (pa_stream_peek(stream, &fragment, &size) < 0) {
                self->Fail(pa_context_errno(pa_stream_get_context(stream)));
                return;
            }
            if (size == 0) {
                break;
            }
            // A hole (no data) is left out: the sample placer sees the samples missing.
            if (fragment != nullptr) {
                bytes.append(static_cast<const char*>(fragment), qsizetype(size));
            }
            pa_stream_drop(stream);
        }
        const qsizetype whole = bytes.size() / qsizetype(sizeof(qint16));
        if (bytes.size() % qsizetype(sizeof(qint16)) != 0) {
            self->partial = bytes.right(1);
        }
        if (whole == 0) {
            return;
        }
        QVector<qint16> samples(whole);
        std::memcpy(samples.data(), bytes.constData(), std::size_t(whole) * sizeof(qint16));
        self->owner->Deliver(self->generation, std::move(samples), arrival);
    }
};

AudioCapture::AudioCapture(QObject* parent) : QObject(parent) {}

AudioCapture::~AudioCapture() {
    Stop();
}

bool AudioCapture::Running() const {
    return stream != nullptr;
}

void AudioCapture::Start(const QString& source, int rate) {
    Stop();
    input = source;
    stream = std::make_unique<Stream>();
    stream->owner = this;
    stream->generation = generation;
    stream->source = source.toUtf8();
    stream->sampleFormat = pa_sample_spec{PA_SAMPLE_S16LE, std::uint32_t(std::max(rate, 0)), 1};
    if (rate < kLowestRate || pa_sample_spec_valid(&stream->sampleFormat) == 0) {
        stream->Fail(PA_ERR_INVALID);
        return;
    }
    stream->loop = pa_threaded_mainloop_new();
    if (stream->loop == nullptr) {
        stream->Fail(PA_ERR_INTERNAL);
        return;
    }
    stream->context = pa_context_new(pa_threaded_mainloop_get_api(stream->loop), kClientName);
    if (stream->context == nullptr) {
        stream->Fail(PA_ERR_INTERNAL);
        return;
    }
    pa_context_set_state_callback(stream->context, &Stream::OnContext, stream.get());
    // Never start a server of our own: the user's session runs one, or there is no audio.
    if (pa_context_connect(stream->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        stream->Fail(pa_context_errno(stream->context));
        return;
    }
    if (pa_threaded_mainloop_start(stream->loop) < 0) {
        stream->Fail(PA_ERR_INTERNAL);
    }
}

void AudioCapture::Stop() {
    // Blocks already queued for the owner's thread belong to the old capture: dropped.
    ++generation;
    stream.reset();
}

void AudioCapture::Deliver(unsigned from, QVector<qint16> samples, double arrival) {
    QMetaObject::invokeMethod(
        this,
        [this, from, samples = std::move(samples), arrival] {
            if (from == generation) {
                emit Audio(samples, arrival);
            }
        },
        Qt::QueuedConnection);
}

void AudioCapture::Fail(unsigned from, bool opened, const QString& reason) {
    // The server's thread cannot stop itself: the owner's thread ends the capture, then tells.
    QMetaObject::invokeMethod(
        this,
        [this, from, opened, reason] {
            if (from != generation) {
                return;
            }
            const QString source = input;
            Stop();
            emit Failed(opened ? Status::Error(AudioStopFailure(source, reason),
                                               QStringLiteral("the audio input stopped"))
                               : Status::Error(AudioOpenFailure(source, reason),
                                               QStringLiteral("the audio input cannot be opened")));
        },
        Qt::QueuedConnection);
}

} // namespace ionogram
