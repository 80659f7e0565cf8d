#!/usr/bin/python3
"""Watches universes of an OLA daemon through OLA's own python client (ola-python).

    ola_monitor.py PORT UNIVERSE...

Connects to the daemon's RPC port on localhost, patches the Dummy device's output port to
the first universe, registers for every universe (which makes them exist in the daemon
even without an output patched) and prints "ready". Then one line for every frame the
daemon passes on:

    <ms since start> <universe> <channel>=<level> ...

with the levels that are not 0 (channels 1-512). Ends when its standard input closes, or
after ten minutes.
"""
import socket
import sys
import time

from ola.ClientWrapper import ClientWrapper
from ola.OlaClient import OlaClient, Plugin


def main():
    port = int(sys.argv[1])
    universes = [int(u) for u in sys.argv[2:]]
    sock = socket.create_connection(("127.0.0.1", port))
    wrapper = ClientWrapper(sock)
    client = wrapper.Client()
    start = time.monotonic()
    waiting = set(universes)

    def frame(universe, data):
        levels = " ".join("%d=%d" % (i + 1, v) for i, v in enumerate(data) if v)
        sys.stdout.write("%d %d %s\n" % ((time.monotonic() - start) * 1000, universe, levels))
        sys.stdout.flush()

    def registered(universe, status):
        if not status.Succeeded():
            sys.stderr.write("cannot register universe %d: %s\n" % (universe, status.message))
            wrapper.Stop()
            return
        waiting.discard(universe)
        if not waiting:
            sys.stdout.write("ready\n")
            sys.stdout.flush()

    def register_all():
        for u in universes:
            client.RegisterUniverse(u, client.REGISTER, lambda data, u=u: frame(u, data),
                                    callback=lambda status, u=u: registered(u, status))

    def devices(status, found):
        for device in found or []:
            if device.plugin_id == Plugin.OLA_PLUGIN_DUMMY and device.output_ports:
                client.PatchPort(device.alias, device.output_ports[0].id, True, client.PATCH, universes[0],
                                 callback=lambda status: register_all())
                return
        register_all()

    def stdin_ready():
        if not sys.stdin.buffer.raw.read(4096):
            wrapper.Stop()

    wrapper._ss.AddReadDescriptor(sys.stdin.fileno(), stdin_ready)
    wrapper.AddEvent(600000, wrapper.Stop)
    client.FetchDevices(devices)
    wrapper.Run()


if __name__ == "__main__":
    main()
