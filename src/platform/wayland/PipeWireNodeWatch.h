#pragma once

#include <pipewire/core.h>
#include <spa/pod/pod.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

struct pw_port_events;

// Watches one node on a PipeWire connection's registry: the node going away,
// and what its output ports offer. A producer whose ports offer no format we
// read would otherwise only leave the stream unlinked until its time-out.
// Lives on the PipeWire loop's thread: made and dropped with the thread
// loop locked, its handlers called on the loop's thread.
class PipeWireNodeWatch {
public:
    struct Handlers {
        // The node left the registry.
        std::function<void()> gone;
        // An output port of the node has told all the formats it offers,
        // and none is one of ours.
        std::function<void()> unreadable;
    };

    // OURS must outlive the watch.
    PipeWireNodeWatch(pw_core *core, uint32_t node, std::span<const spa_pod *const> ours, Handlers handlers);
    ~PipeWireNodeWatch();
    PipeWireNodeWatch(const PipeWireNodeWatch &) = delete;
    PipeWireNodeWatch &operator=(const PipeWireNodeWatch &) = delete;

    // To be called with the core's done events: they tell when a port has
    // answered in full.
    void onCoreDone(int seq);

private:
    struct Port;
    static const pw_registry_events registryEvents;
    static const pw_port_events portEvents;

    void onGlobal(uint32_t id, const char *type, const spa_dict *props);
    void onGlobalRemove(uint32_t id);
    void onPortFormat(Port &port, const spa_pod *offer);

    pw_core *m_core;
    uint32_t m_node;
    std::span<const spa_pod *const> m_ours;
    Handlers m_handlers;
    pw_registry *m_registry = nullptr;
    spa_hook m_registryListener {};
    std::vector<std::unique_ptr<Port>> m_ports;
};
