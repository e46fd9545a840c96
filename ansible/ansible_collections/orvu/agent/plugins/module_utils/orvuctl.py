# -*- coding: utf-8 -*-
# Running orvuctl for the modules of this collection: the agent it talks to, its JSON, its errors.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json

# orvuctl's exit statuses: 0 done or nothing to do, 1 refused (nothing changed), 2 bad file or
# command line (nothing sent).
ORVUCTL_REFUSED = 1
ORVUCTL_BAD_INPUT = 2

CONNECTION_ARGUMENT_SPEC = dict(
    orvuctl_path=dict(type='path', default='orvuctl'),
    socket=dict(type='path'),
    endpoint=dict(type='path'),
)


def orvuctl_environment(module):
    """The variables that make orvuctl reach the agent these options name."""
    environment = {}
    if module.params.get('socket'):
        environment['ORVU_AGENT_SOCKET'] = module.params['socket']
    if module.params.get('endpoint'):
        environment['ORVU_AGENT_ENDPOINT'] = module.params['endpoint']
    return environment


def orvuctl_errors(stderr):
    """orvuctl's lines on standard error, without their "orvuctl: " lead."""
    lines = []
    for line in (stderr or '').splitlines():
        line = line.strip()
        if line.startswith('orvuctl: '):
            line = line[len('orvuctl: '):]
        if line:
            lines.append(line)
    return lines


def run_orvuctl(module, arguments):
    """Runs orvuctl with ARGUMENTS and --json; returns its document, or fails the task."""
    executable = module.params['orvuctl_path']
    if '/' not in executable:
        executable = module.get_bin_path(executable, required=True)
    command = [executable] + list(arguments) + ['--json']
    rc, stdout, stderr = module.run_command(
        command, environ_update=orvuctl_environment(module))
    errors = orvuctl_errors(stderr)
    if rc != 0:
        what = 'refused, nothing was changed' if rc == ORVUCTL_REFUSED else (
            'the desired state or the command was not accepted, nothing was sent'
            if rc == ORVUCTL_BAD_INPUT else 'failed')
        module.fail_json(
            msg='orvuctl %s: %s' % (what, '; '.join(errors) or 'exit status %d' % rc),
            rc=rc, cmd=command, stdout=stdout, stderr=stderr, errors=errors)
    try:
        document = json.loads(stdout)
    except ValueError as error:
        module.fail_json(msg='orvuctl printed no JSON document: %s' % error,
                         rc=rc, cmd=command, stdout=stdout, stderr=stderr)
    if not isinstance(document, dict):
        module.fail_json(msg='orvuctl printed JSON that is no object', cmd=command, stdout=stdout)
    return document
