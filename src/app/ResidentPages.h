#pragma once

#include <QByteArray>

#include <vector>

// The pages of mapped files (libraries, plugins, fonts) the program holds in memory. Qt Quick
// cannot be unloaded once the settings window has run: what it brought in can still go
// back to the system when the window closes, and comes in again from the file if needed.
class ResidentPages {
public:
    /// Notes the pages in memory now.
    void remember();
    /// Hands back the pages of files brought in since remember(). Nothing is lost: the kernel
    /// drops only pages it can read again, and those of no other process.
    void handBackNewOnes() const;

private:
    struct Mapping {
        quintptr start, end;
        QByteArray file;
        std::vector<bool> present;
    };
    static std::vector<Mapping> mappings();

    std::vector<Mapping> m_before;
};
