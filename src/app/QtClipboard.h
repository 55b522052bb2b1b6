#pragma once

#include "platform/Clipboard.h"

#include <QObject>

#include <functional>

// The desktop clipboard (the CLIPBOARD selection on X11). Its text is read off the main
// thread by a reader of the platform's, since Qt would wait on the main thread for an owner
// that may never answer; it is emptied through QClipboard.
class QtClipboard final : public QObject, public Clipboard {
public:
    /// Starts reading the text; `done` may run on any thread, but not after the reader is gone.
    using Reader = std::function<void(TextHandler done)>;

    /// Empties the clipboard where the toolkit cannot; false leaves it to QClipboard.
    using Clearer = std::function<bool()>;

    /// The reader is dropped first when the clipboard goes, so no answer comes after that.
    explicit QtClipboard(Reader reader, Clearer clearer = {});
    ~QtClipboard() override;

    void requestText(TextHandler handler) override;
    void clear() override;

private:
    Reader m_reader;
    Clearer m_clearer;
};
