#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: info
short_description: Read an Orvu SNMP agent's modules, clients, tables and values as facts
version_added: "1.0.0"
description:
  - Reads, through orvuctl, the MIB modules the agent serves, the clients connected to it, the
    rows of the tables named in C(tables) and the values named in C(values), and returns them as
    the fact C(orvu_agent).
  - Changes nothing.
options:
  gather:
    description:
      - Which of the agent's lists to read.
    type: list
    elements: str
    choices: [modules, clients]
    default: [modules, clients]
  tables:
    description:
      - Table entries whose rows to read, by name (or C(MODULE::name), or numeric OID).
    type: list
    elements: str
    default: []
  values:
    description:
      - Values to read, by name with an optional instance suffix (C(speakerVolume),
        C(speakerFreqDescr.21)) or numeric OID.
    type: list
    elements: str
    default: []
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
  facts:
    support: full
extends_documentation_fragment:
  - orvu.agent.connection
author:
  - OASET developers
'''

EXAMPLES = r'''
- name: What the agent serves, who is connected, and two values
  orvu.agent.info:
    tables:
      - speakerFreqEntry
    values:
      - speakerVolume
      - speakerFreqDescr.21

- name: The volume as a plain number
  ansible.builtin.debug:
    msg: "{{ orvu_agent.values.speakerVolume.value }}"
'''

RETURN = r'''
ansible_facts:
  description: The fact C(orvu_agent).
  returned: always
  type: dict
  contains:
    orvu_agent:
      description: What the agent holds.
      type: dict
      contains:
        modules:
          description: The MIB modules the agent serves (C(name)); with C(gather) holding
            C(modules).
          type: list
          elements: dict
        clients:
          description: The clients connected to the agent (C(name), C(processId), C(threadId),
            C(registered), C(file)); with C(gather) holding C(clients).
          type: list
          elements: dict
        tables:
          description: For each entry of C(tables), its C(columns) and its C(rows), each row with
            its C(index) and its C(values) by column name.
          type: dict
        values:
          description: For each name of C(values), as written there, the value's C(object),
            C(oid), C(syntax) and C(value) in its plain form (numbers as numbers, printable
            octets as text, other octets as C({hex})), with C(type), C(label) and C(bits) where
            the MIB gives them.
          type: dict
  sample:
    orvu_agent:
      modules: [{name: VORNEL-VNBEEP-MIB}]
      values:
        speakerVolume: {object: speakerVolume.0, syntax: INTEGER, value: 40}
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.orvu.agent.plugins.module_utils.orvuctl import (
    CONNECTION_ARGUMENT_SPEC,
    run_orvuctl,
)


def main():
    argument_spec = dict(
        gather=dict(type='list', elements='str', choices=['modules', 'clients'],
                    default=['modules', 'clients']),
        tables=dict(type='list', elements='str', default=[]),
        values=dict(type='list', elements='str', default=[]),
    )
    argument_spec.update(CONNECTION_ARGUMENT_SPEC)
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)

    facts = {}
    for what in ('modules', 'clients'):
        if what in module.params['gather']:
            facts[what] = run_orvuctl(module, [what]).get(what, [])
    facts['tables'] = {}
    for entry in module.params['tables']:
        facts['tables'][entry] = run_orvuctl(module, ['show', entry])
    facts['values'] = {}
    names = module.params['values']
    if names:
        # One call reads them all; orvuctl answers in the order of the names.
        found = run_orvuctl(module, ['get'] + names).get('values', [])
        if len(found) != len(names):
            module.fail_json(msg='orvuctl gave %d values for %d names' % (len(found), len(names)))
        facts['values'] = dict(zip(names, found))
    module.exit_json(changed=False, ansible_facts=dict(orvu_agent=facts))


if __name__ == '__main__':
    main()
