#!/usr/bin/python3
"""Modbus ASCII slave (unit 7) on a serial device for the serial server's tests.

Usage: pymodbus_ascii_slave.py DEVICE
Prints "ready" once the device is open (or "skip REASON" when pymodbus is
missing) and serves until its standard input closes or the time limit passes.
Addresses are used as given. The contents must match SerialPeerTest.cpp.
"""

import asyncio
import logging
import sys

try:
    from pymodbus.datastore import (
        ModbusSequentialDataBlock,
        ModbusServerContext,
        ModbusSlaveContext,
    )
    from pymodbus.server.async_io import ModbusSerialServer
    from pymodbus.transaction import ModbusAsciiFramer
    import serial_asyncio  # noqa: F401  (the serial server needs it)
except ImportError as exc:
    print(f"skip /usr/bin/python3 cannot import pymodbus: {exc}", flush=True)
    sys.exit(3)

SIZE = 100
UNIT = 7
TIME_LIMIT = 60.0


def holding(i):
    return (i * 7919 + 13) & 0xFFFF


def input_register(i):
    return (i * 40503 + 101) & 0xFFFF


def coil(i):
    return i % 3 == 0


async def wait_for_stdin_close():
    loop = asyncio.get_running_loop()
    closed = loop.create_future()

    def on_input():
        try:
            data = sys.stdin.buffer.raw.read(4096)
        except OSError:
            data = b""
        if not data and not closed.done():
            closed.set_result(None)

    loop.add_reader(sys.stdin.fileno(), on_input)
    try:
        await asyncio.wait_for(closed, TIME_LIMIT)
    except asyncio.TimeoutError:
        pass
    loop.remove_reader(sys.stdin.fileno())


async def main(device):
    slave = ModbusSlaveContext(
        co=ModbusSequentialDataBlock(0, [coil(i) for i in range(SIZE)]),
        di=ModbusSequentialDataBlock(0, [not coil(i) for i in range(SIZE)]),
        hr=ModbusSequentialDataBlock(0, [holding(i) for i in range(SIZE)]),
        ir=ModbusSequentialDataBlock(0, [input_register(i) for i in range(SIZE)]),
        zero_mode=True,
    )
    context = ModbusServerContext(slaves={UNIT: slave}, single=False)
    server = ModbusSerialServer(context, framer=ModbusAsciiFramer, port=device,
                                baudrate=9600, ignore_missing_slaves=True)
    await server.start()
    print("ready", flush=True)
    await wait_for_stdin_close()
    await server.shutdown()


if __name__ == "__main__":
    logging.getLogger().setLevel(logging.CRITICAL)
    if len(sys.argv) != 2:
        print("usage: pymodbus_ascii_slave.py DEVICE", file=sys.stderr)
        sys.exit(2)
    asyncio.run(main(sys.argv[1]))
