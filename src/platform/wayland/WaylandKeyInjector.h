#pragma once
#include "platform/KeyInjector.h"
#include <QByteArray>
class WaylandKeyInjector final : public KeyInjector {
public:
    static bool available(const QByteArray & = {}) { return false; }
    std::unique_ptr<KeySession> openSession() override { return nullptr; }
};
