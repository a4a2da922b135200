#!/usr/bin/python
# -*- coding: utf-8 -*-
# Makes one ticket printer hold a list of fonts or images through velquin-load.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: velquin_flash
short_description: Make a ticket printer hold a list of fonts or images
description:
  - Runs C(velquin-load send --skip-loaded --json) for one printer, so only the
    files the printer does not hold yet are sent.
  - What the printer holds comes from the velquin-load ledger of the host the
    task runs on, and counts only while the printer's free flash is what the
    ledger expects; otherwise every file is sent (or, with I(erase_if_changed),
    the printer is erased first).
  - In check mode the printer is asked, nothing is written to its flash, and
    the result says what would be sent.
version_added: "1.0.0"
options:
  printer:
    description:
      - The printer, as velquin-load names it, C(tcp:HOST[:PORT]) or C(local).
    type: str
    required: true
  files:
    description:
      - The files the printer must hold, all of one kind.
      - Either I(files) or I(list) is given.
    type: list
    elements: path
  list:
    description:
      - A list file (.TFL, .SFL or .PFL) naming the files.
    type: path
  mode:
    description:
      - The kind of the files; taken from the list file or the files when left out.
    type: str
    choices: [ttf, softfont, pcx]
  erase_if_changed:
    description:
      - When the printer no longer matches the ledger (erased or loaded from another
        workstation, or another printer at the address), erase its font space first
        and send every file.
    type: bool
    default: false
  velquin_load:
    description:
      - The velquin-load program to run.
    type: path
    default: velquin-load
notes:
  - Supports check mode.
author:
  - Velquin developers
"""

EXAMPLES = r"""
- name: The box office printers hold the ticket fonts
  velquin.fleet.velquin_flash:
    printer: "tcp:{{ ansible_host }}"
    files:
      - /srv/tickets/fonts/headline.ttf
      - /srv/tickets/fonts/body.ttf
    mode: ttf
    erase_if_changed: true
"""

RETURN = r"""
changed:
  description: Whether a file was sent or the printer erased (in check mode, would be).
  type: bool
  returned: always
sent:
  description: The files sent (in check mode, the files that would be sent).
  type: list
  elements: str
  returned: always
skipped:
  description: The files left out because the printer holds them.
  type: list
  elements: str
  returned: always
erased:
  description: Whether the printer's font space was erased first.
  type: bool
  returned: always
verification:
  description: How the ledger stood against the printer (verified, nothing-recorded, other-printer, stale, unverifiable).
  type: str
  returned: when the printer was reached
identity:
  description: The printer's identity values and suitability verdict, as velquin-load reports them.
  type: dict
  returned: when the printer was reached
report:
  description: The whole velquin-load report of the printer.
  type: dict
  returned: when velquin-load gave one
"""

import json

from ansible.module_utils.basic import AnsibleModule


def main():
    module = AnsibleModule(
        argument_spec=dict(
            printer=dict(type="str", required=True),
            files=dict(type="list", elements="path"),
            list=dict(type="path"),
            mode=dict(type="str", choices=["ttf", "softfont", "pcx"]),
            erase_if_changed=dict(type="bool", default=False),
            velquin_load=dict(type="path", default="velquin-load"),
        ),
        mutually_exclusive=[["files", "list"]],
        required_one_of=[["files", "list"]],
        supports_check_mode=True,
    )
    params = module.params
    command = [params["velquin_load"], "send"]
    if params["files"]:
        command += params["files"]
    else:
        command += ["--list", params["list"]]
    if params["mode"]:
        command += ["--mode", params["mode"]]
    command += ["--printer", params["printer"], "--skip-loaded", "--json"]
    if params["erase_if_changed"]:
        command.append("--erase-if-changed")
    if module.check_mode:
        command.append("--check")

    rc, out, err = module.run_command(command)
    try:
        report = json.loads(out)["printers"][0]
    except (ValueError, KeyError, IndexError, TypeError):
        module.fail_json(msg="velquin-load gave no report (exit %d): %s" % (rc, err.strip()), rc=rc, stderr=err)

    skipped = report.get("skipped", [])
    if module.check_mode:
        sent = report.get("would_send", [])
        erased = "erased" in report
    else:
        sent = [f["path"] for f in report.get("files", []) if f.get("bytes_sent", 0) > 0]
        erased = bool(report.get("erased", False))
    result = dict(
        changed=bool(sent) or erased,
        sent=sent,
        skipped=skipped,
        erased=erased,
        report=report,
    )
    for key in ("verification", "identity"):
        if key in report:
            result[key] = report[key]
    if rc != 0 or report.get("outcome") != "completed":
        result["changed"] = bool(sent) or erased
        module.fail_json(
            msg="%s: %s%s"
            % (params["printer"], report.get("outcome", "failed"),
               " (%s)" % report["message"] if report.get("message") else ""),
            rc=rc,
            **result
        )
    module.exit_json(**result)


if __name__ == "__main__":
    main()
