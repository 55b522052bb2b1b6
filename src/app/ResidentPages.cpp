#include "ResidentPages.h"

#include <QFile>

#include <algorithm>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#ifndef MADV_PAGEOUT
#define MADV_PAGEOUT 21 // Linux 5.4
#endif

namespace {

const quintptr pageSize = quintptr(sysconf(_SC_PAGESIZE));

// Which pages of [start, end) are in memory, from the kernel's page map (bit 63 of each entry).
std::vector<bool> presentPages(int pagemap, quintptr start, quintptr end)
{
    const std::size_t count = (end - start) / pageSize;
    std::vector<quint64> entries(count);
    const ssize_t got = pread(pagemap, entries.data(), count * sizeof(quint64),
                              off_t(start / pageSize * sizeof(quint64)));
    std::vector<bool> present(count, false);
    for (std::size_t i = 0; got > 0 && i < std::size_t(got) / sizeof(quint64); ++i)
        present[i] = entries[i] >> 63;
    return present;
}

} // namespace

std::vector<ResidentPages::Mapping> ResidentPages::mappings()
{
    std::vector<Mapping> result;
    QFile maps(QStringLiteral("/proc/self/maps"));
    const int pagemap = open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
    if (pagemap < 0 || !maps.open(QIODevice::ReadOnly)) {
        if (pagemap >= 0)
            close(pagemap);
        return result;
    }
    for (const QByteArray &line : maps.readAll().split('\n')) {
        // start-end perms offset device inode path
        const QList<QByteArray> fields = line.simplified().split(' ');
        const QList<QByteArray> range = fields.value(0).split('-');
        if (fields.size() < 6 || !fields[5].startsWith('/') || range.size() != 2)
            continue;
        Mapping mapping{
            range[0].toULongLong(nullptr, 16), range[1].toULongLong(nullptr, 16), fields[5], {}};
        mapping.present = presentPages(pagemap, mapping.start, mapping.end);
        result.push_back(std::move(mapping));
    }
    close(pagemap);
    return result;
}

void ResidentPages::remember()
{
    m_before = mappings();
}

void ResidentPages::handBackNewOnes() const
{
    for (const Mapping &now : mappings()) {
        const auto before = std::ranges::find_if(m_before, [&now](const Mapping &m) {
            return m.start == now.start && m.end == now.end && m.file == now.file;
        });
        const auto isNew = [&](std::size_t page) {
            return now.present[page] && (before == m_before.end() || !before->present[page]);
        };
        for (std::size_t first = 0; first < now.present.size();) {
            std::size_t last = first;
            while (last < now.present.size() && isNew(last))
                ++last;
            if (last > first)
                madvise(reinterpret_cast<void *>(now.start + first * pageSize),
                        (last - first) * pageSize, MADV_PAGEOUT);
            first = last + 1;
        }
    }
}
