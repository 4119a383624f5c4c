#!/usr/bin/python3
"""Modbus ASCII slave (unit 7) for the serial server's tests.

Joins two pseudo-terminals like a null-modem cable, serves one end with
pymodbus and prints "ready PATH" with the device of the other end for the
test (or "skip REASON" when pymodbus is missing). Serves until it is stopped
or the time limit passes. The contents must match SerialPeerTest.cpp.
"""

import asyncio
import logging
import os
import sys
import tty

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
TIME_LIMIT = 60.0


async def main():
    # Each device stays open here, so that its master never sees a hang-up.
    ends = [os.openpty() for _ in range(2)]
    loop = asyncio.get_running_loop()
    for (master, device), (other, _) in zip(ends, reversed(ends)):
        tty.setraw(device)
        loop.add_reader(master, lambda m=master, o=other: os.write(o, os.read(m, 512)))
    coils = [i % 3 == 0 for i in range(SIZE)]
    slave = ModbusSlaveContext(
        co=ModbusSequentialDataBlock(0, coils),
        di=ModbusSequentialDataBlock(0, [not c for c in coils]),
        hr=ModbusSequentialDataBlock(0, [(i * 7919 + 13) & 0xFFFF for i in range(SIZE)]),
        ir=ModbusSequentialDataBlock(0, [(i * 40503 + 101) & 0xFFFF for i in range(SIZE)]),
        zero_mode=True,
    )
    context = ModbusServerContext(slaves={7: slave}, single=False)
    server = ModbusSerialServer(context, framer=ModbusAsciiFramer, port=os.ttyname(ends[0][1]),
                                baudrate=9600, ignore_missing_slaves=True)
    await server.start()
    print("ready", os.ttyname(ends[1][1]), flush=True)
    await asyncio.sleep(TIME_LIMIT)
    await server.shutdown()


if __name__ == "__main__":
    logging.getLogger().setLevel(logging.CRITICAL)
    asyncio.run(main())
