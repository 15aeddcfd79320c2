#!/usr/bin/env bash
# Writes the sample receipt of docs/virtual-printer-receipt.png to standard
# output, as the printer's bytes (Windows-1252 text and ESC commands):
#   docs/receipt.sh > /dev/pts/3        # the terminal tellumo-printer printed
set -euo pipefail

esc() { printf '\033%b' "$1"; }
text() { printf '%s\n' "$1" | iconv -f UTF-8 -t WINDOWS-1252; }
# A left part and a right part on one 48-column line.
row() { text "$(printf '%-*s%s' $((48 - ${#2})) "$1" "$2")"; }
rule() { text "$(printf '%048d' 0 | tr 0 -)"; }

esc '@'
# Two user-defined characters: a ring (B0) and a heart (B1), 9 columns each.
esc '#\xB0\x3C\x42\x99\xA5\xA5\xA5\x99\x42\x3C'
esc '#\xB1\x0C\x1E\x3E\x7C\xF8\x7C\x3E\x1E\x0C'

esc 'W1'; printf ' \xB0 '; printf 'MERCADO BOA VISTA'; printf ' \xB0\n'; esc 'M'
text 'Rua das Flores, 123 - Centro - Campinas/SP'
text 'CNPJ 12.345.678/0001-90   IE 123.456.789.110'
rule
esc 'E'; text 'CUPOM FISCAL'; esc 'M'
text 'ITEM DESCRIÇÃO                QTD   UNIT   TOTAL'
text '001  Café torrado 500g          1  18,90   18,90'
text '002  Pão francês kg           0,5  12,80    6,40'
text '003  Leite integral 1L          3   4,50   13,50'
text '004  Açúcar cristal 1kg         2   6,95   13,90'
rule
esc 'W0'; text 'TOTAL R$ 52,70'; esc 'M'
row 'Dinheiro' '60,00'
row 'Troco' '7,30'
text ''
# A bar code: three bit-image rows, bars of 1 to 3 columns, single density.
bars=''
for width in 2 1 1 3 1 2 2 1 3 1 1 2 1 1 2 3 1 2 1 1 3 2 1 1 2 1 3 1 1 2 2 1 1 3 2 1 \
    1 3 2 1 1 2 2 3 1 1 2 1 3 2 1 1 2 1 1 3 1 2 2 1 3 1 2 1 1 2 3 1; do
    for _ in $(seq "$width"); do bars+='\xFF'; done
    bars+='\x00'
done
columns=$(printf "$bars" | wc -c)
for _ in 1 2 3; do
    esc "*\\x00\\x$(printf '%02x' "$columns")\\x00"; printf "$bars"
done
text ''
printf '        Obrigado pela prefer\xEAncia! \xB1\n'
esc 'c\x02'; printf '\xA2\xA5+ Pago 01/01/2001\n'
esc 'p\x00\x0A\x0A'
