#include "forcedclose.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <vector>

namespace {

// An X11 DestroyNotify event as the protocol lays it out (event code 17).
struct DestroyNotify {
    std::uint8_t responseType;
    std::uint8_t pad;
    std::uint16_t sequence;
    std::uint32_t event;
    std::uint32_t window;
};
constexpr std::uint8_t kDestroyNotify = 17;

class ForcedCloseFilter : public QAbstractNativeEventFilter {
public:
    struct Watched {
        QPointer<QWidget> window;
        std::function<void()> gone;
    };

    static ForcedCloseFilter &instance() {
        static ForcedCloseFilter filter;
        return filter;
    }

    void watch(QWidget *window, std::function<void()> gone) {
        if (!m_installed) {
            QCoreApplication::instance()->installNativeEventFilter(this);
            m_installed = true;
        }
        m_watched.push_back({window, std::move(gone)});
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const DestroyNotify *>(message);
        if ((event->responseType & 0x7f) != kDestroyNotify)
            return false;
        std::erase_if(m_watched, [](const Watched &w) { return w.window.isNull(); });
        for (const Watched &watched : m_watched) {
            if (watched.window->internalWinId() != WId(event->window))
                continue;
            // Not from inside the window system's event dispatch: the answer
            // may close windows and end the program.
            QTimer::singleShot(0, watched.window, watched.gone);
        }
        return false;
    }

private:
    std::vector<Watched> m_watched;
    bool m_installed = false;
};

} // namespace

void OnForcedClose(QWidget *window, std::function<void()> gone) {
    ForcedCloseFilter::instance().watch(window, std::move(gone));
}
