#include "WaylandClipboardReader.h"

#include "WaylandRoundtrip.h"

#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <QByteArray>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

namespace {

using Clock = std::chrono::steady_clock;

// A compositor that answers nothing for this long is taken as gone. The main thread asks only
// at start and to empty the clipboard, and must not wait long.
constexpr std::chrono::seconds readTimeout{5};
constexpr std::chrono::seconds mainThreadTimeout{1};

// Best first; the last two are what X clients offer through XWayland.
struct MimeType {
    const char *name;
    bool latin1;
};
constexpr MimeType textTypes[] = {
    {"text/plain;charset=utf-8", false},
    {"UTF8_STRING", false},
    {"text/plain", false},
    {"TEXT", false},
    {"STRING", true},
};

struct Offer {
    zwlr_data_control_offer_v1 *offer = nullptr;
    std::vector<std::string> types;
};

// One connection with the seat and the manager bound, and the seat's clipboard offer.
class Connection {
public:
    explicit Connection(Clock::duration timeout)
    {
        m_display = wl_display_connect(nullptr);
        if (!m_display)
            return;
        wl_registry *registry = wl_display_get_registry(m_display);
        static const wl_registry_listener registryListener{
            [](void *data, wl_registry *r, uint32_t name, const char *interface, uint32_t version) {
                auto *self = static_cast<Connection *>(data);
                if (!std::strcmp(interface, wl_seat_interface.name) && !self->m_seat)
                    self->m_seat =
                        static_cast<wl_seat *>(wl_registry_bind(r, name, &wl_seat_interface, 1));
                else if (!std::strcmp(interface, zwlr_data_control_manager_v1_interface.name))
                    self->m_manager = static_cast<zwlr_data_control_manager_v1 *>(wl_registry_bind(
                        r, name, &zwlr_data_control_manager_v1_interface, std::min(version, 2u)));
            },
            [](void *, wl_registry *, uint32_t) {},
        };
        wl_registry_add_listener(registry, &registryListener, this);
        m_answered = wayland::roundtrip(m_display, timeout);
        wl_registry_destroy(registry);
    }
    ~Connection()
    {
        if (m_offer.offer)
            zwlr_data_control_offer_v1_destroy(m_offer.offer);
        for (Offer &o : m_pending)
            zwlr_data_control_offer_v1_destroy(o.offer);
        if (m_device)
            zwlr_data_control_device_v1_destroy(m_device);
        if (m_manager)
            zwlr_data_control_manager_v1_destroy(m_manager);
        if (m_seat)
            wl_seat_destroy(m_seat);
        if (m_display)
            wl_display_disconnect(m_display);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool usable() const { return m_display && m_answered && m_seat && m_manager; }
    wl_display *display() const { return m_display; }

    /// The device of the seat; its current selection arrives with the next roundtrip.
    zwlr_data_control_device_v1 *device()
    {
        if (!m_device) {
            m_device = zwlr_data_control_manager_v1_get_data_device(m_manager, m_seat);
            static const zwlr_data_control_device_v1_listener listener{
                .data_offer = &Connection::onDataOffer,
                .selection = &Connection::onSelection,
                .finished = [](void *, zwlr_data_control_device_v1 *) {},
                .primary_selection = &Connection::onPrimarySelection,
            };
            zwlr_data_control_device_v1_add_listener(m_device, &listener, this);
        }
        return m_device;
    }

    const Offer &selection() const { return m_offer; }

private:
    static void onDataOffer(void *data, zwlr_data_control_device_v1 *,
                            zwlr_data_control_offer_v1 *offer)
    {
        auto *self = static_cast<Connection *>(data);
        self->m_pending.push_back({offer, {}});
        static const zwlr_data_control_offer_v1_listener listener{
            [](void *data, zwlr_data_control_offer_v1 *offer, const char *type) {
                for (Offer &o : static_cast<Connection *>(data)->m_pending) {
                    if (o.offer == offer)
                        o.types.emplace_back(type);
                }
            },
        };
        zwlr_data_control_offer_v1_add_listener(offer, &listener, self);
    }
    static void onSelection(void *data, zwlr_data_control_device_v1 *,
                            zwlr_data_control_offer_v1 *offer)
    {
        static_cast<Connection *>(data)->take(offer, true);
    }
    static void onPrimarySelection(void *data, zwlr_data_control_device_v1 *,
                                   zwlr_data_control_offer_v1 *offer)
    {
        static_cast<Connection *>(data)->take(offer, false);
    }
    // Every offer is announced first and then named as a selection; the others go.
    void take(zwlr_data_control_offer_v1 *offer, bool clipboard)
    {
        for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
            if (it->offer != offer)
                continue;
            if (clipboard) {
                if (m_offer.offer)
                    zwlr_data_control_offer_v1_destroy(m_offer.offer);
                m_offer = std::move(*it);
            } else {
                zwlr_data_control_offer_v1_destroy(it->offer);
            }
            m_pending.erase(it);
            return;
        }
        if (clipboard && !offer && m_offer.offer) {
            zwlr_data_control_offer_v1_destroy(m_offer.offer);
            m_offer = {};
        }
    }

    wl_display *m_display = nullptr;
    bool m_answered = false;
    wl_seat *m_seat = nullptr;
    zwlr_data_control_manager_v1 *m_manager = nullptr;
    zwlr_data_control_device_v1 *m_device = nullptr;
    std::vector<Offer> m_pending;
    Offer m_offer;
};

// Reads the owner's answer until it closes the pipe, waiting at most the timeout between pieces.
std::optional<QByteArray> drain(int fd, int stopFd, std::stop_token stop)
{
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int ready = poll(fds, 2, int(WaylandClipboardReader::ownerTimeout.count()));
        if (stop.stop_requested() || ready == 0)
            return std::nullopt;
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return bytes;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return std::nullopt;
        }
        bytes.append(buffer, n);
    }
}

} // namespace

std::optional<QString> WaylandClipboardReader::readSelection(int stopFd, std::stop_token stop)
{
    Connection connection(readTimeout);
    if (!connection.usable())
        return std::nullopt;
    connection.device();
    // The device's first events are the current selection and its types.
    if (!wayland::roundtrip(connection.display(), readTimeout) ||
        !wayland::roundtrip(connection.display(), readTimeout))
        return std::nullopt;
    const Offer &offer = connection.selection();
    if (!offer.offer)
        return std::nullopt;
    for (const MimeType &type : textTypes) {
        bool offered = false;
        for (const std::string &t : offer.types)
            offered = offered || t == type.name;
        if (!offered)
            continue;
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return std::nullopt;
        zwlr_data_control_offer_v1_receive(offer.offer, type.name, fds[1]);
        wl_display_flush(connection.display());
        close(fds[1]);
        const std::optional<QByteArray> bytes = drain(fds[0], stopFd, stop);
        close(fds[0]);
        if (!bytes)
            return std::nullopt; // the owner does not answer: asking again would not help
        if (type.latin1)
            return QString::fromLatin1(*bytes);
        QStringDecoder decoder(QStringDecoder::Utf8);
        return QString(decoder(*bytes));
    }
    return std::nullopt;
}

bool WaylandClipboardReader::available()
{
    return Connection(mainThreadTimeout).usable();
}

bool WaylandClipboardReader::clear()
{
    Connection connection(mainThreadTimeout);
    if (!connection.usable())
        return false;
    // No source at all: every application then reads an empty clipboard.
    zwlr_data_control_device_v1_set_selection(connection.device(), nullptr);
    return wayland::roundtrip(connection.display(), mainThreadTimeout);
}
