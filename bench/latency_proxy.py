#!/usr/bin/env python3
"""A TCP proxy that delays every piece of data by a fixed time in each
direction, as a link with latency does (the kernel here has no netem).

  latency_proxy.py LISTEN_PORT TARGET_PORT DELAY_MS COUNT_FILE

Listens on 127.0.0.1:LISTEN_PORT, forwards to 127.0.0.1:TARGET_PORT, and
writes the number of connections accepted so far to COUNT_FILE after each.
"""

import asyncio
import sys


async def pipe(reader, writer, delay):
    """Copies reader to writer, each piece sent `delay` after it arrived; the
    reading goes on meanwhile, so only latency is added, not a rate limit."""
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def read():
        try:
            while True:
                data = await reader.read(65536)
                await queue.put((loop.time() + delay, data))
                if not data:
                    return
        except ConnectionError:
            await queue.put((loop.time(), b""))

    reading = asyncio.ensure_future(read())
    try:
        while True:
            due, data = await queue.get()
            await asyncio.sleep(max(0.0, due - loop.time()))
            if not data:
                break
            writer.write(data)
            await writer.drain()
    except ConnectionError:
        pass
    finally:
        reading.cancel()
        try:
            writer.close()
        except Exception:
            pass


async def main():
    listen_port, target_port = int(sys.argv[1]), int(sys.argv[2])
    delay = int(sys.argv[3]) / 1000.0
    count_file = sys.argv[4]
    accepted = 0

    async def handle(client_reader, client_writer):
        nonlocal accepted
        accepted += 1
        with open(count_file, "w") as f:
            f.write(str(accepted))
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
        await asyncio.gather(pipe(client_reader, server_writer, delay),
                             pipe(server_reader, client_writer, delay))

    server = await asyncio.start_server(handle, "127.0.0.1", listen_port)
    with open(count_file, "w") as f:
        f.write("0")
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
