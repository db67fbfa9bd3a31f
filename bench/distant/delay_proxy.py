#!/usr/bin/python3
"""A TCP proxy that makes a loopback server look distant: every piece of
data is forwarded a fixed time after it arrived, in both directions,
without waiting for anything else (so pipelined commands stay pipelined).

    delay_proxy.py LISTEN_PORT TARGET_PORT DELAY_MS

Listens on 127.0.0.1 only; prints "ready" once it accepts connections."""
import asyncio
import sys


async def pump(reader, writer, delay):
    loop = asyncio.get_running_loop()

    def forward(data):
        if not writer.is_closing():
            writer.write(data)

    def finish():
        if not writer.is_closing():
            writer.close()

    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            loop.call_later(delay, forward, data)
    except ConnectionError:
        pass
    loop.call_later(delay, finish)


async def main():
    listen_port, target_port = int(sys.argv[1]), int(sys.argv[2])
    delay = float(sys.argv[3]) / 1000.0

    async def serve(client_reader, client_writer):
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
        await asyncio.gather(pump(client_reader, server_writer, delay),
                             pump(server_reader, client_writer, delay))

    server = await asyncio.start_server(serve, "127.0.0.1", listen_port)
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


asyncio.run(main())
