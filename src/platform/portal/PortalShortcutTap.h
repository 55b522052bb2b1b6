#pragma once
#include "platform/KeyboardTap.h"
class PortalShortcutTap final : public KeyboardTap {
public:
    static bool available() { return false; }
    bool install(Handler) override { return false; }
    void remove() override {}
    QList<KeyCombo> watch(const QList<KeyCombo> &, bool) override { return {}; }
    std::optional<quint16> keyCodeForScanCode(quint32) const override { return {}; }
};
