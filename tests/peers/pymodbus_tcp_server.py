#!/usr/bin/python3
"""Modbus/TCP server with fixed contents for PymodbusPeerTest.cpp.

Listens on 127.0.0.1 at a port the system picks, prints "port N" once it
accepts connections (or "skip REASON" when pymodbus is missing) and serves
until it is ended or two minutes pass. Addresses are used as given.
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


def registers(fill):
    """fill(i) at i, from 900 a float and a double packed by pymodbus, each
    with the most significant word first, then last, and from 920 32-bit
    values in the four byte orders."""
    values = [fill(i) & 0xFFFF for i in range(SIZE)]
    packed = []
    for add, value in ((BinaryPayloadBuilder.add_32bit_float, -1234.5625),
                       (BinaryPayloadBuilder.add_64bit_float, 3.141592653589793)):
        for order in (Endian.Big, Endian.Little):
            builder = BinaryPayloadBuilder(byteorder=Endian.Big, wordorder=order)
            add(builder, value)
            packed += builder.to_registers()
    values[900 : 900 + len(packed)] = packed
    # From 920: 0x12345678 as an unsigned 32-bit value, then 123456.0 as a
    # 32-bit float, each in the orders ABCD, CDAB, BADC and DCBA.
    packed = []
    for add, value in ((BinaryPayloadBuilder.add_32bit_uint, 0x12345678),
                       (BinaryPayloadBuilder.add_32bit_float, 123456.0)):
        for byteorder, wordorder in ((Endian.Big, Endian.Big), (Endian.Big, Endian.Little),
                                     (Endian.Little, Endian.Big),
                                     (Endian.Little, Endian.Little)):
            builder = BinaryPayloadBuilder(byteorder=byteorder, wordorder=wordorder)
            add(builder, value)
            packed += builder.to_registers()
    values[920 : 920 + len(packed)] = packed
    return ModbusSequentialDataBlock(0, values)


async def main():
    slave = ModbusSlaveContext(
        co=ModbusSequentialDataBlock(0, [i % 3 == 0 for i in range(SIZE)]),
        di=ModbusSequentialDataBlock(0, [i % 5 in (1, 2) for i in range(SIZE)]),
        hr=registers(lambda i: i * 7919 + 13),
        ir=registers(lambda i: i * 40503 + 101),
        zero_mode=True,
    )
    server = ModbusTcpServer(ModbusServerContext(slaves=slave, single=True),
                             address=("127.0.0.1", 0))
    serving = asyncio.create_task(server.serve_forever())
    await server.serving
    # Read back from the bound socket: no window in which the port is free.
    print(f"port {server.server.sockets[0].getsockname()[1]}", flush=True)
    await asyncio.sleep(120)
    serving.cancel()


if __name__ == "__main__":
    # pymodbus sets up logging when imported; its exception answers are
    # expected here.
    logging.getLogger().setLevel(logging.CRITICAL)
    asyncio.run(main())
