#!/usr/bin/env python3
"""The velquin.fleet collection's example playbook, run by ansible-playbook on
localhost (a local connection) against printer-sim printers on 127.0.0.x:
the first run changes both printers, the second changes nothing and sends
nothing, check mode sends nothing, and an unreachable printer fails only its
own host. Also checks that ansible-doc reads the module."""

import re
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

VELQUIN_LOAD, PRINTER_SIM, COLLECTIONS = sys.argv[1:4]
EXAMPLES = pathlib.Path(COLLECTIONS) / "examples"


def start_printer(address, journal):
    process = subprocess.Popen(
        [PRINTER_SIM, "--address", address, "--port", "0", "--quiet", "--journal", journal],
        stdout=subprocess.PIPE, text=True)
    line = process.stdout.readline().split()
    assert line[:1] == ["port"], line
    return process, int(line[1])


def journal_entries(journal):
    path = pathlib.Path(journal) / "journal.txt"
    return path.read_text().splitlines() if path.exists() else []


def main():
    work = pathlib.Path(tempfile.mkdtemp(prefix="velquin-ansible-"))
    printers = []
    try:
        environment = dict(os.environ, XDG_DATA_HOME=str(work / "data"), XDG_RUNTIME_DIR=str(work),
                           ANSIBLE_COLLECTIONS_PATH=COLLECTIONS,
                           ANSIBLE_LOCAL_TEMP=str(work / "tmp"), ANSIBLE_HOME=str(work / "ansible"),
                           ANSIBLE_NOCOLOR="1", ANSIBLE_RETRY_FILES_ENABLED="0")
        doc = subprocess.run(["ansible-doc", "velquin.fleet.velquin_flash"], env=environment,
                             capture_output=True, text=True)
        assert doc.returncode == 0 and "erase_if_changed" in doc.stdout, doc.stderr

        files = work / "files"
        files.mkdir()
        for index, name in enumerate(["headline.ttf", "body.ttf"]):
            # One table record, then the table's bytes.
            body = bytes([65 + index]) * (3000 + index)
            (files / name).write_bytes(b"\x00\x01\x00\x00\x00\x01" + bytes(6) + b"glyf" + bytes(4)
                                       + (28).to_bytes(4, "big") + len(body).to_bytes(4, "big") + body)
        shutil.copy(EXAMPLES / "playbook.yml", work / "playbook.yml")
        journals = [str(work / "journal2"), str(work / "journal3")]
        hosts = {}
        for host, address, journal in (("box-office-1", "127.0.0.2", journals[0]),
                                       ("box-office-2", "127.0.0.3", journals[1])):
            process, port = start_printer(address, journal)
            printers.append(process)
            hosts[host] = "tcp:%s:%d" % (address, port)
        # Nobody listens at the turnstile's address.
        hosts["turnstile-1"] = "tcp:127.0.0.4:1"
        inventory = work / "inventory.ini"
        lines = ["[printers]"] + ["%s velquin_printer=%s" % item for item in hosts.items()]
        lines += ["[printers:vars]", "ansible_connection=local", "ansible_python_interpreter=%s" % sys.executable]
        inventory.write_text("\n".join(lines) + "\n")

        def play(*extra):
            run = subprocess.run(["ansible-playbook", "-i", str(inventory), str(work / "playbook.yml"),
                                  "-e", "velquin_load=%s" % VELQUIN_LOAD, *extra],
                                 env=environment, capture_output=True, text=True)
            # The recap: "HOST : ok=N changed=N unreachable=N failed=N ...".
            stats = {}
            for host, fields in re.findall(r"^(\S+)\s+:\s+(ok=.*)$", run.stdout, re.MULTILINE):
                stats[host] = {key: int(value) for key, value in re.findall(r"(\w+)=(\d+)", fields)}
            assert len(stats) == 3, "no recap:\n%s\n%s" % (run.stdout, run.stderr)
            return stats

        def expect(stats, changed):
            for host in ("box-office-1", "box-office-2"):
                assert stats[host]["failed"] == 0, stats
                assert stats[host]["changed"] == changed, (host, stats)
            assert stats["turnstile-1"]["failed"] == 1, stats

        expect(play(), 1)
        after_first = [journal_entries(journal) for journal in journals]
        assert all(len(entries) == 2 for entries in after_first), after_first
        expect(play(), 0)
        expect(play("--check"), 0)
        assert [journal_entries(journal) for journal in journals] == after_first
        print("ansible playbook: changed, unchanged, check mode, one host failing: ok")
    finally:
        for process in printers:
            process.terminate()
            process.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
