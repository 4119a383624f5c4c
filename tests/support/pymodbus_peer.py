#!/usr/bin/python3
"""pymodbus as the other end of the interoperation tests.

  pymodbus_peer.py tcp    Modbus/TCP server with fixed contents for
                          PymodbusPeerTest.cpp: listens on 127.0.0.1 at a port
                          the system picks, prints "port N" once it accepts
                          connections and serves for two minutes.
  pymodbus_peer.py rtu-over-tcp
                          the same contents behind pymodbus's TCP server with
                          its RTU framer, for PymodbusFramingPeerTest.cpp;
                          prints "port N", then "frame HEX..." for each piece
                          of a request as it arrives.
  pymodbus_peer.py udp    the same behind its UDP server, the same lines, a
                          "frame" line per datagram.
  pymodbus_peer.py tls CA CERT KEY
                          the same contents as tcp inside TLS, for
                          PymodbusTlsPeerTest.cpp: serves with the
                          certificate CERT and its key KEY (PEM), requires
                          client certificates signed by the CA in CA, prints
                          "port N" and then "frame HEX" for each request
                          as it arrived; serves for two minutes.
  pymodbus_peer.py ascii  Modbus ASCII slave (unit 7) for SerialPeerTest.cpp:
                          joins two pseudo-terminals like a null-modem cable,
                          serves one end and prints "ready PATH" with the
                          other; serves for a minute.

Either prints "skip REASON" and exits with 3 when pymodbus is missing, and
ends early when it is ended. Addresses are used as given.
"""

import asyncio
import logging
import os
import ssl
import sys
import tty

try:
    from pymodbus.constants import Endian
    from pymodbus.datastore import (
        ModbusSequentialDataBlock,
        ModbusServerContext,
        ModbusSlaveContext,
    )
    from pymodbus.payload import BinaryPayloadBuilder
    from pymodbus.server.async_io import (
        ModbusConnectedRequestHandler,
        ModbusDisconnectedRequestHandler,
        ModbusSerialServer,
        ModbusTcpServer,
        ModbusTlsServer,
        ModbusUdpServer,
    )
    from pymodbus.transaction import ModbusAsciiFramer, ModbusRtuFramer, ModbusSocketFramer
    if sys.argv[1:] == ["ascii"]:
        import serial_asyncio  # noqa: F401  (the serial server needs it)
except ImportError as exc:
    print(f"skip /usr/bin/python3 cannot import pymodbus: {exc}", flush=True)
    sys.exit(3)


ORDERS = ((Endian.Big, Endian.Big), (Endian.Big, Endian.Little),
          (Endian.Little, Endian.Big), (Endian.Little, Endian.Little))


def packed_values():
    """From 900 a float and a double packed by pymodbus, each with the most
    significant word first, then last; from 920 0x12345678 as an unsigned
    32-bit value, then 123456.0 as a 32-bit float, each in the orders ABCD,
    CDAB, BADC and DCBA (byte order, word order); from 1000 in the same
    orders -81985529216486896 as a signed 64-bit value, 0x8899AABBCCDDEEFF
    as an unsigned one, then 3.141592653589793 as a 64-bit float."""
    first, second, third = [], [], []
    for add, value in ((BinaryPayloadBuilder.add_32bit_float, -1234.5625),
                       (BinaryPayloadBuilder.add_64bit_float, 3.141592653589793)):
        for order in (Endian.Big, Endian.Little):
            builder = BinaryPayloadBuilder(byteorder=Endian.Big, wordorder=order)
            add(builder, value)
            first += builder.to_registers()
    for words, values in ((second, ((BinaryPayloadBuilder.add_32bit_uint, 0x12345678),
                                    (BinaryPayloadBuilder.add_32bit_float, 123456.0))),
                          (third, ((BinaryPayloadBuilder.add_64bit_int, -81985529216486896),
                                   (BinaryPayloadBuilder.add_64bit_uint, 0x8899AABBCCDDEEFF),
                                   (BinaryPayloadBuilder.add_64bit_float, 3.141592653589793)))):
        for add, value in values:
            for byteorder, wordorder in ORDERS:
                builder = BinaryPayloadBuilder(byteorder=byteorder, wordorder=wordorder)
                add(builder, value)
                words += builder.to_registers()
    return {900: first, 920: second, 1000: third}


def slave(size, inputs, packed):
    """Coils set at every third address, the discrete inputs given, the
    registers filled by address with the packed values laid over them."""
    def registers(fill):
        values = [fill(i) & 0xFFFF for i in range(size)]
        for start, words in packed.items():
            values[start : start + len(words)] = words
        return ModbusSequentialDataBlock(0, values)

    return ModbusSlaveContext(
        co=ModbusSequentialDataBlock(0, [i % 3 == 0 for i in range(size)]),
        di=ModbusSequentialDataBlock(0, [inputs(i) for i in range(size)]),
        hr=registers(lambda i: i * 7919 + 13),
        ir=registers(lambda i: i * 40503 + 101),
        zero_mode=True,
    )


def print_frame(data):
    """One line for what arrived, as the peer's server saw it."""
    print("frame", data.hex(" ").upper(), flush=True)


class LoggedStreamHandler(ModbusConnectedRequestHandler):
    """The TCP handler, saying what arrives."""

    def data_received(self, data):
        print_frame(data)
        super().data_received(data)


class LoggedDatagramHandler(ModbusDisconnectedRequestHandler):
    """The UDP handler, saying what arrives."""

    def datagram_received(self, data, addr):
        print_frame(data)
        super().datagram_received(data, addr)


async def serve_network(mode):
    context = ModbusServerContext(slaves=slave(1200, lambda i: i % 5 in (1, 2), packed_values()),
                                  single=True)
    if mode == "udp":
        server = ModbusUdpServer(context, address=("127.0.0.1", 0), handler=LoggedDatagramHandler)
    elif mode == "rtu-over-tcp":
        server = ModbusTcpServer(context, framer=ModbusRtuFramer, address=("127.0.0.1", 0),
                                 handler=LoggedStreamHandler)
    else:
        server = ModbusTcpServer(context, address=("127.0.0.1", 0))
    serving = asyncio.create_task(server.serve_forever())
    await server.serving
    # Read back from the bound socket: no window in which the port is free.
    if mode == "udp":
        port = server.protocol.get_extra_info("sockname")[1]
    else:
        port = server.server.sockets[0].getsockname()[1]
    print(f"port {port}", flush=True)
    await asyncio.sleep(120)
    serving.cancel()


class PrintingFramer(ModbusSocketFramer):
    """Modbus/TCP framing that prints the bytes of each request first."""

    def processIncomingPacket(self, data, callback, unit, **kwargs):  # noqa: N802
        print("frame", data.hex(), flush=True)
        return super().processIncomingPacket(data, callback, unit, **kwargs)


async def serve_tls(cafile, certfile, keyfile):
    # pymodbus 3.0's own context would ask for a client certificate without
    # any CA to check it against: this one has the CA, and reqclicert makes
    # a certificate required.
    sslctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    sslctx.minimum_version = ssl.TLSVersion.TLSv1_2
    sslctx.load_cert_chain(certfile=certfile, keyfile=keyfile)
    sslctx.load_verify_locations(cafile=cafile)
    context = ModbusServerContext(slaves=slave(1200, lambda i: i % 5 in (1, 2), packed_values()),
                                  single=True)
    server = ModbusTlsServer(context, framer=PrintingFramer, address=("127.0.0.1", 0),
                             sslctx=sslctx, reqclicert=True)
    serving = asyncio.create_task(server.serve_forever())
    await server.serving
    print(f"port {server.server.sockets[0].getsockname()[1]}", flush=True)
    await asyncio.sleep(120)
    serving.cancel()


async def serve_ascii():
    # Each device stays open here, so that its master never sees a hang-up.
    ends = [os.openpty() for _ in range(2)]
    loop = asyncio.get_running_loop()
    for (master, device), (other, _) in zip(ends, reversed(ends)):
        tty.setraw(device)
        loop.add_reader(master, lambda m=master, o=other: os.write(o, os.read(m, 512)))
    context = ModbusServerContext(slaves={7: slave(100, lambda i: i % 3 != 0, {})}, single=False)
    server = ModbusSerialServer(context, framer=ModbusAsciiFramer, port=os.ttyname(ends[0][1]),
                                baudrate=9600, ignore_missing_slaves=True)
    await server.start()
    print("ready", os.ttyname(ends[1][1]), flush=True)
    await asyncio.sleep(60.0)
    await server.shutdown()


if __name__ == "__main__":
    # pymodbus sets up logging when imported; its exception answers are
    # expected here.
    logging.getLogger().setLevel(logging.CRITICAL)
    MODE = sys.argv[1] if len(sys.argv) > 1 else "tcp"
    if MODE == "tls":
        asyncio.run(serve_tls(*sys.argv[2:5]))
    else:
        asyncio.run(serve_ascii() if MODE == "ascii" else serve_network(MODE))
