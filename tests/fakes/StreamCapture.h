#pragma once

#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

// Captures what the code under test writes to standard output or error (fd 1 or 2).
class StreamCapture {
public:
    explicit StreamCapture(int fd) : m_fd(fd)
    {
        m_file.open();
        flush();
        m_saved = dup(m_fd);
        dup2(m_file.handle(), m_fd);
    }
    QByteArray finish()
    {
        flush();
        dup2(m_saved, m_fd);
        close(m_saved);
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    void flush() { std::fflush(m_fd == STDOUT_FILENO ? stdout : stderr); }
    QTemporaryFile m_file;
    int m_fd;
    int m_saved = -1;
};
