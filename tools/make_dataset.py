#!/usr/bin/env python3
"""Writes a realistic KIRO-skema data directory for the demo and the
benchmarks: one .DAT file per table of the schedule database (fixed-length
records of ids, dates, flags and Danish texts, as the schedule program keeps
them), plus ini and log files; or, for the benchmark of many files, that
many small tables of 1 to 20 KB each.
    make_dataset.py <data directory> <total megabytes>
    make_dataset.py <data directory> --tables <count>"""
import os
import random
import struct
import sys

TABLES = """anom hontity lektregl nojt eakt loty aldtil afsp beltil omsdag opgkal opgper araf
aftalop afme meda anfo ansc ansk acsa udgr loka risy skka akgr kdagrel kaldag akti skfa skph
sphp lokrotyp lokrolle skemrtyp skemarol bem aakrel miak minutfau minutud planakt mipl fagfordl
udlplan budt buftim normjust elvrel elvrel2 fagelv ret pom bygn amm ins pers epsh akpl frit uvfo
unko alrel skfalokarel tif hjpakt frty ffpg ffpp ffgrund ffpertab fftaltab fffagfordl ffpgrel
medaskeprior tg pp la lap elev elti ev eb""".split()

WORDS = ("dansk matematik engelsk tysk fysik kemi biologi geografi historie samfundsfag idræt musik "
         "billedkunst håndværk design madkundskab kristendom valgfag lokale klasse hold lærer pædagog "
         "elev skema uge mandag tirsdag onsdag torsdag fredag aflyst vikar ekskursion prøve eksamen").split()

# A few tables hold most of the data, as in a real school's database.
WEIGHTS = {"akti": 14, "risy": 12, "skka": 9, "kaldag": 7, "elvrel": 6, "planakt": 5, "alrel": 5,
           "pers": 3, "elev": 4, "loka": 2, "meda": 3, "udlplan": 3, "tif": 2}


def record(rng, length, serial):
    text = " ".join(rng.choice(WORDS) for _ in range(3)).encode("cp1252")[:length // 2]
    head = struct.pack("<IHHIIB", serial, rng.randrange(1, 500), rng.randrange(0, 7),
                       20140801 + rng.randrange(0, 400), 20150630, rng.randrange(0, 3))
    body = head + text
    return body[:length].ljust(length, b"\0")


def main(target, megabytes):
    rng = random.Random(10327)
    total = megabytes * 1024 * 1024
    weight_sum = sum(WEIGHTS.get(t, 0.3) for t in TABLES)
    os.makedirs(os.path.join(target, "data"), exist_ok=True)
    os.makedirs(os.path.join(target, "ini"), exist_ok=True)
    os.makedirs(os.path.join(target, "log"), exist_ok=True)
    for i, table in enumerate(TABLES):
        size = int(total * WEIGHTS.get(table, 0.3) / weight_sum)
        length = 40 + (i * 7) % 120
        count = max(1, size // length)
        with open(os.path.join(target, "data", table + ".DAT"), "wb") as f:
            f.write(b"".join(record(rng, length, n) for n in range(count)))
    for name, text in (("skemabeg.dat", "1;2;3\r\n"), ("timoak.dat", "0\r\n"),
                       ("CntLokaleBeg.dat", "0, 0\r\n")):
        with open(os.path.join(target, "data", name), "wb") as f:
            f.write(text.encode("cp1252"))
    with open(os.path.join(target, "ini", "skema.ini"), "wb") as f:
        f.write("[visning]\r\nugestart=mandag\r\nfarver=ja\r\n".encode("cp1252"))
    with open(os.path.join(target, "log", "kiro.log"), "wb") as f:
        for n in range(2000):
            f.write(f"2014-12-{1 + n % 28:02d} 08:{n % 60:02d} station {n % 5} åbnede skemaet\r\n"
                    .encode("cp1252"))


def many_tables(target, count):
    rng = random.Random(count)
    os.makedirs(os.path.join(target, "data"), exist_ok=True)
    os.makedirs(os.path.join(target, "ini"), exist_ok=True)
    for n in range(count):
        length = 40 + (n * 7) % 120
        records = max(1, rng.randrange(1024, 20481) // length)
        with open(os.path.join(target, "data", f"t{n:05d}.DAT"), "wb") as f:
            f.write(b"".join(record(rng, length, r) for r in range(records)))
    with open(os.path.join(target, "ini", "skema.ini"), "wb") as f:
        f.write("[visning]\r\nugestart=mandag\r\n".encode("cp1252"))


if __name__ == "__main__":
    if len(sys.argv) > 3 and sys.argv[2] == "--tables":
        many_tables(sys.argv[1], int(sys.argv[3]))
    else:
        main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 100)
