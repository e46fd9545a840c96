#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: settings
short_description: Keep an Orvu SNMP agent's values and table rows in a desired state
version_added: "1.0.0"
description:
  - Compares the desired state with what the agent holds and makes the difference as one change
    set, all of it or nothing, through C(orvuctl apply).
  - Scalar values by name; rows of conceptual tables present or absent with their column values;
    optionally exclusive tables, whose rows not listed are removed.
  - Reports C(changed) only when something changed, or would change in check mode.
  - The state comes from the task's C(values) and C(tables), or from a file on the managed host in
    the same shape (YAML or JSON).
options:
  values:
    description:
      - Scalar values by name, as C(speakerVolume), C(speakerVolume.0),
        C(VORNEL-VNBEEP-MIB::speakerVolume) or a numeric OID.
      - A value is written as its object's syntax takes it (numbers, texts, enumeration labels,
        C(0x) and hexadecimal digits for bytes).
    type: dict
  tables:
    description:
      - Table entries by name (or C(MODULE::name), or numeric OID), each a dictionary with
        C(rows), a list of rows, and C(exclusive) (default false; true removes the rows that are
        not listed).
      - A row has C(index), its instance suffix (a number, or dotted for several index parts),
        optionally C(state) (C(present), the default, or C(absent)), and its column values by
        column name.
    type: dict
  file:
    description:
      - A file on the managed host that holds the desired state in the same shape, with the keys
        C(values) and C(tables). Mutually exclusive with C(values) and C(tables).
    type: path
notes:
  - Check mode reads and compares and changes nothing. Diff mode shows every object that the
    change touches, before and after.
  - A refused change set (a value out of range, a read-only object, an agent that cannot be
    reached) fails the task and leaves the agent as it was.
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
extends_documentation_fragment:
  - orvu.agent.connection
author:
  - OASET developers
'''

EXAMPLES = r'''
- name: Volume and the low beep, as they should be
  orvu.agent.settings:
    values:
      speakerVolume: 40
    tables:
      speakerFreqEntry:
        rows:
          - index: 21
            speakerFreqDescr: low beep
            speakerFreqHertz: 220
          - index: 22
            state: absent

- name: Only the rows listed, at the agent of another socket
  orvu.agent.settings:
    socket: /run/orvu-agent/orvu-agent.sock
    tables:
      speakerFreqEntry:
        exclusive: true
        rows:
          - index: 21
            speakerFreqHertz: 220

- name: A desired state kept in a file on the host
  orvu.agent.settings:
    file: /etc/orvu-agent/desired.yaml
'''

RETURN = r'''
changed_count:
  description: The number of changes (rows created, rows removed, values written), made or, in
    check mode, that would be made; 0 when the agent already holds the desired state.
  returned: success
  type: int
  sample: 3
changes:
  description: The changes, in the order the change set carries them out.
  returned: success
  type: list
  elements: dict
  contains:
    action:
      description: C(create), C(remove) or C(set).
      type: str
    object:
      description: The row (C(ENTRY.INDEX)) or value (C(COLUMN.INDEX), C(SCALAR.0)) changed.
      type: str
    before:
      description: The value before, in its plain form; null for a row or an absent value.
      type: raw
    after:
      description: The value after, in its plain form; null for a row.
      type: raw
  sample:
    - {action: set, object: speakerVolume.0, syntax: INTEGER, before: 30, after: 40}
diff:
  description: In diff mode, one line per object that the change touches, before and after.
  returned: success, in diff mode
  type: dict
  contains:
    before:
      description: The objects as they were.
      type: str
    after:
      description: The objects as they are made.
      type: str
'''

import json
import os
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.orvu.agent.plugins.module_utils.orvuctl import (
    CONNECTION_ARGUMENT_SPEC,
    run_orvuctl,
)


def table_problems(tables):
    """What in TABLES cannot be a desired state; orvuctl judges the names and values."""
    problems = []
    for entry, table in tables.items():
        if not isinstance(table, dict):
            problems.append('tables.%s is no dictionary' % entry)
            continue
        rows = table.get('rows', [])
        if not isinstance(rows, list):
            problems.append('tables.%s.rows is no list' % entry)
            continue
        for position, row in enumerate(rows, 1):
            if not isinstance(row, dict) or 'index' not in row:
                problems.append('row %d of tables.%s has no index' % (position, entry))
            elif row.get('state', 'present') not in ('present', 'absent'):
                problems.append('row %d of tables.%s: state is present or absent, not %s'
                                % (position, entry, row['state']))
    return problems


def desired_state(params):
    state = {}
    if params['values'] is not None:
        state['values'] = params['values']
    if params['tables'] is not None:
        state['tables'] = params['tables']
    return state


def apply_arguments(module, path):
    arguments = ['apply', path]
    if module.check_mode:
        arguments.append('--check')
    if module._diff:
        arguments.append('--diff')
    return arguments


def main():
    argument_spec = dict(
        values=dict(type='dict'),
        tables=dict(type='dict'),
        file=dict(type='path'),
    )
    argument_spec.update(CONNECTION_ARGUMENT_SPEC)
    module = AnsibleModule(
        argument_spec=argument_spec,
        mutually_exclusive=[('file', 'values'), ('file', 'tables')],
        required_one_of=[('file', 'values', 'tables')],
        supports_check_mode=True,
    )

    if module.params['file'] is not None:
        document = run_orvuctl(module, apply_arguments(module, module.params['file']))
    else:
        problems = table_problems(module.params['tables'] or {})
        if problems:
            module.fail_json(msg='; '.join(problems))
        # JSON is YAML, and orvuctl reads it as the file it would be.
        handle, path = tempfile.mkstemp(prefix='orvu-desired-', suffix='.json',
                                        dir=module.tmpdir)
        try:
            with os.fdopen(handle, 'w') as stream:
                json.dump(desired_state(module.params), stream)
            document = run_orvuctl(module, apply_arguments(module, path))
        finally:
            os.unlink(path)

    count = document.get('changed', 0)
    result = dict(
        changed=bool(count),
        changed_count=count,
        changes=document.get('changes', []),
    )
    if module._diff and isinstance(document.get('diff'), dict):
        result['diff'] = dict(before=document['diff'].get('before', ''),
                              after=document['diff'].get('after', ''))
    module.exit_json(**result)


if __name__ == '__main__':
    main()
