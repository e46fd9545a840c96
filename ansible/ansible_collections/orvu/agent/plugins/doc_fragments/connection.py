# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):
    # How every module of the collection reaches orvuctl and, through it, the agent.
    DOCUMENTATION = r'''
options:
  orvuctl_path:
    description:
      - The orvuctl program, as a path or as a name looked up on the PATH of the managed host.
    type: path
    default: orvuctl
  socket:
    description:
      - The agent's Unix socket (passed to orvuctl as C(ORVU_AGENT_SOCKET)).
      - Without it and without C(endpoint), orvuctl finds the agent as it does by itself.
    type: path
  endpoint:
    description:
      - The endpoint file of an agent on TCP loopback (passed to orvuctl as
        C(ORVU_AGENT_ENDPOINT)).
    type: path
requirements:
  - orvuctl on the managed host, and a running orvu-agentd that it may reach
'''
