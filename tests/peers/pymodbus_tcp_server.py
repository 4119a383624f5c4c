#!/usr/bin/python3
"""Modbus/TCP server with fixed contents for the peer tests.

Listens on 127.0.0.1 at a port the system picks, prints "port N" once it
accepts connections (or "skip REASON" when pymodbus is missing) and serves
until its standard input closes or the time limit passes. Addresses are used
as given. The contents must match PymodbusPeerTest.cpp.
"""

import asyncio
import logging
import sys

try:
    from pymodbus.constants import Endian
    from pymodbus.datastore import (
        ModbusSequentialDataBlock,
        ModbusServerContext,
        ModbusSlaveContext,
    )
    from pymodbus.payload import BinaryPayloadBuilder
    from pymodbus.server.async_io import ModbusTcpServer
except ImportError as exc:
    print(f"skip /usr/bin/python3 cannot import pymodbus: {exc}", flush=True)
    sys.exit(3)

SIZE = 1000
TIME_LIMIT = 120.0
# Values placed with pymodbus's own packing, in both word orders.
VALUES_AT = 900
FLOAT_VALUE = -1234.5625
DOUBLE_VALUE = 3.141592653589793


def coil(i):
    return i % 3 == 0


def discrete(i):
    return i % 5 in (1, 2)


def holding(i):
    return (i * 7919 + 13) & 0xFFFF


def input_register(i):
    return (i * 40503 + 101) & 0xFFFF


def packed_values():
    """float, float, double, double: most significant word first, then last."""
    words = []
    for order in (Endian.Big, Endian.Little):
        builder = BinaryPayloadBuilder(byteorder=Endian.Big, wordorder=order)
        builder.add_32bit_float(FLOAT_VALUE)
        words += builder.to_registers()
    for order in (Endian.Big, Endian.Little):
        builder = BinaryPayloadBuilder(byteorder=Endian.Big, wordorder=order)
        builder.add_64bit_float(DOUBLE_VALUE)
        words += builder.to_registers()
    return words


def registers(fill):
    values = [fill(i) for i in range(SIZE)]
    packed = packed_values()
    values[VALUES_AT : VALUES_AT + len(packed)] = packed
    return ModbusSequentialDataBlock(0, values)


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


async def main():
    slave = ModbusSlaveContext(
        co=ModbusSequentialDataBlock(0, [coil(i) for i in range(SIZE)]),
        di=ModbusSequentialDataBlock(0, [discrete(i) for i in range(SIZE)]),
        hr=registers(holding),
        ir=registers(input_register),
        zero_mode=True,
    )
    server = ModbusTcpServer(ModbusServerContext(slaves=slave, single=True),
                             address=("127.0.0.1", 0))
    serving = asyncio.create_task(server.serve_forever())
    await server.serving
    # Read back from the bound socket: no window in which the port is free.
    port = server.server.sockets[0].getsockname()[1]
    print(f"port {port}", flush=True)
    await wait_for_stdin_close()
    await server.server_close()
    serving.cancel()
    try:
        await serving
    except asyncio.CancelledError:
        pass


if __name__ == "__main__":
    # pymodbus sets up logging when imported; its exception answers and the
    # cancelled handlers at shutdown are expected here.
    logging.getLogger().setLevel(logging.CRITICAL)
    asyncio.run(main())
