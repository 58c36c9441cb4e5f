#pragma once

#include <cstddef>
#include <cstdint>

// A DMA-BUF mapped for the CPU once, when PipeWire hands the buffer over, and
// kept for as long as the buffer lives: mapping it again for every picture
// costs page faults on each of its pages. Made, read and dropped on the
// PipeWire loop's thread only (add_buffer, process, remove_buffer).
class DmaBufMapping {
public:
    // Maps SIZE bytes of FD, read-only, from the file's start.
    DmaBufMapping(int fd, size_t size);
    ~DmaBufMapping();
    DmaBufMapping(const DmaBufMapping &) = delete;
    DmaBufMapping &operator=(const DmaBufMapping &) = delete;

    // Null when the mapping failed; error() then says why.
    const uint8_t *address() const;
    int error() const;

    // Brackets CPU reads of a DMA-BUF so that the exporter's caches agree
    // with memory: the start is synced when made, the end when dropped.
    class Read {
    public:
        explicit Read(int fd);
        ~Read();
        Read(const Read &) = delete;
        Read &operator=(const Read &) = delete;

        // False when the buffer could not be synced for reading.
        bool started() const { return m_started; }

    private:
        int m_fd;
        bool m_started;
    };

private:
    void *m_address;
    size_t m_size;
    int m_error = 0;
};
