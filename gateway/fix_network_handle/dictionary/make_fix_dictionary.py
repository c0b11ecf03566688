#!/usr/bin/env python3
"""Writes the gateway's FIX 4.2 data dictionary: the engine's own FIX42.xml with the
dialect's additions (fix42_dialect_additions.xml) merged in, for one variant.

  make_fix_dictionary.py --base FIX42.xml --later FIX44.xml [--later FIX50.xml ...]
                         --additions fix42_dialect_additions.xml
                         --variant acceptor|client --output FIX42_qel_<variant>.xml

The result is checked before it is written: every field a message, group, header or
trailer names is defined, and no tag number or field name is defined twice. Any problem
stops the build with a message naming it.
"""

import argparse
import re
import sys
import xml.etree.ElementTree as ET


class DictionaryError(Exception):
    pass


def field_definitions(root):
    fields = root.find('fields')
    if fields is None:
        raise DictionaryError('no <fields> section')
    return fields


def message_by_name(root, name):
    for message in root.find('messages').findall('message'):
        if message.get('name') == name:
            return message
    raise DictionaryError('no message named %s' % name)


def import_later_fields(root, additions, later_roots):
    fields = field_definitions(root)
    known = {f.get('name') for f in fields.findall('field')}
    section = additions.find('import')
    for wanted in ([] if section is None else section.findall('field')):
        name = wanted.get('name')
        if name in known:
            continue
        for later in later_roots:
            found = next((f for f in field_definitions(later).findall('field') if f.get('name') == name), None)
            if found is not None:
                # Numbers and types only: the value lists are the later versions' business.
                fields.append(ET.Element('field', {'number': found.get('number'), 'name': name,
                                                   'type': found.get('type')}))
                known.add(name)
                break
        else:
            raise DictionaryError('field %s is in no later dictionary' % name)


def add_custom_fields(root, additions):
    fields = field_definitions(root)
    numbers = {f.get('number') for f in fields.findall('field')}
    names = {f.get('name') for f in fields.findall('field')}
    for custom in additions.find('fields').findall('field'):
        if custom.get('number') in numbers or custom.get('name') in names:
            raise DictionaryError('custom field %s (%s) clashes with an engine field'
                                  % (custom.get('name'), custom.get('number')))
        fields.append(ET.Element('field', dict(custom.attrib)))


def add_messages(root, additions):
    messages = root.find('messages')
    types = {m.get('msgtype') for m in messages.findall('message')}
    # MsgType (35) lists its values: a custom type must be one of them to be valid.
    msg_type = next((f for f in field_definitions(root).findall('field') if f.get('number') == '35'), None)
    if msg_type is None:
        raise DictionaryError('no MsgType field')
    for message in additions.find('messages').findall('message'):
        if message.get('msgtype') in types:
            raise DictionaryError('message type %s already exists' % message.get('msgtype'))
        messages.append(message)
        description = re.sub(r'(?<!^)(?=[A-Z])', '_', message.get('name')).upper()
        msg_type.append(ET.Element('value', {'enum': message.get('msgtype'), 'description': description}))


def extend_messages(root, additions):
    for extension in additions.findall('extend'):
        message = message_by_name(root, extension.get('message'))
        present = {child.get('name') for child in message}
        for child in extension:
            if child.get('name') not in present:
                message.append(child)


def relax(root, additions, variant):
    for rule in additions.findall('relax'):
        if rule.get('variant') != variant:
            continue
        relaxed_fields = set()
        for name in rule.get('messages').split():
            message = message_by_name(root, name)
            for element in message.iter():
                if element.tag in ('field', 'group', 'component'):
                    element.set('required', 'N')
                    relaxed_fields.add(element.get('name'))
        for definition in field_definitions(root).findall('field'):
            if definition.get('name') in relaxed_fields:
                for value in definition.findall('value'):
                    definition.remove(value)


def widen_values(root, additions, variant):
    """Adds values to a field's value list, or removes the list (any="Y"), per variant."""
    fields = {f.get('name'): f for f in field_definitions(root).findall('field')}
    for rule in additions.findall('values'):
        if rule.get('variant') != variant:
            continue
        definition = fields.get(rule.get('field'))
        if definition is None:
            raise DictionaryError('values for the undefined field %s' % rule.get('field'))
        if rule.get('any') == 'Y':
            for value in definition.findall('value'):
                definition.remove(value)
            continue
        known = {v.get('enum') for v in definition.findall('value')}
        if not known:
            continue  # no list (or one relaxed away): every value is taken already
        for value in rule.findall('value'):
            if value.get('enum') in known:
                raise DictionaryError('field %s already has the value %s' % (rule.get('field'), value.get('enum')))
            definition.append(ET.Element('value', dict(value.attrib)))


def check(root):
    definitions = field_definitions(root).findall('field')
    names = [f.get('name') for f in definitions]
    numbers = [f.get('number') for f in definitions]
    for listing, what in ((names, 'name'), (numbers, 'number')):
        duplicates = {x for x in listing if listing.count(x) > 1}
        if duplicates:
            raise DictionaryError('field %s defined twice: %s' % (what, ', '.join(sorted(duplicates))))
    defined = set(names)
    sections = [root.find('header'), root.find('trailer')] + root.find('messages').findall('message')
    for section in sections:
        for element in section.iter():
            if element.tag in ('field', 'group') and element is not section and element.get('name') not in defined:
                raise DictionaryError('%s names the undefined field %s' % (section.get('name', section.tag),
                                                                        element.get('name')))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--base', required=True)
    parser.add_argument('--later', action='append', default=[])
    parser.add_argument('--additions', required=True)
    parser.add_argument('--variant', required=True, choices=('acceptor', 'client'))
    parser.add_argument('--output', required=True)
    options = parser.parse_args()

    try:
        tree = ET.parse(options.base)
        root = tree.getroot()
        additions = ET.parse(options.additions).getroot()
        later_roots = [ET.parse(path).getroot() for path in options.later]
        import_later_fields(root, additions, later_roots)
        add_custom_fields(root, additions)
        add_messages(root, additions)
        extend_messages(root, additions)
        relax(root, additions, options.variant)
        widen_values(root, additions, options.variant)
        check(root)
    except (DictionaryError, ET.ParseError, OSError) as error:
        sys.stderr.write('make_fix_dictionary.py: %s\n' % error)
        return 1

    ET.indent(tree, space=' ')
    tree.write(options.output, encoding='UTF-8', xml_declaration=True)
    return 0


if __name__ == '__main__':
    sys.exit(main())
