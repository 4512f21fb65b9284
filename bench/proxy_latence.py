#!/usr/bin/env python3
"""A TCP proxy that adds a fixed round trip: each chunk read on one side is written to the
other side half the round trip later, in order, without waiting for the chunks before it
to arrive (latency, not a throughput limit: the link stays as wide as it was).

Usage: proxy_latence.py LISTEN_HOST LISTEN_PORT TARGET_HOST TARGET_PORT RTT_MS

Prints "pret" on stdout once listening (the bench waits for that line)."""
import asyncio
import sys


async def relay(reader, writer, delay):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def send():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                break
            writer.write(data)
            await writer.drain()
        try:
            writer.write_eof()
        except (OSError, RuntimeError):
            pass

    sender = asyncio.create_task(send())
    try:
        while True:
            data = await reader.read(65536)
            queue.put_nowait((loop.time() + delay, data or None))
            if not data:
                break
        await sender
    except (ConnectionError, OSError):
        sender.cancel()


async def main():
    listen_host, listen_port, target_host, target_port, rtt_ms = sys.argv[1:6]
    delay = float(rtt_ms) / 2000.0

    async def handle(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection(target_host, int(target_port))
        except OSError:
            client_writer.close()
            return
        for w in (client_writer, server_writer):
            sock = w.get_extra_info("socket")
            if sock is not None:
                import socket
                sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        await asyncio.gather(relay(client_reader, server_writer, delay),
                             relay(server_reader, client_writer, delay),
                             return_exceptions=True)
        client_writer.close()
        server_writer.close()

    server = await asyncio.start_server(handle, listen_host, int(listen_port))
    print("pret", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
