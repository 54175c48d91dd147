"""openpyxl, with its styling of merged cells done once per distinct style instead of once per cell.

Loading a workbook, openpyxl gives every cell on the edge of a merged range the border of the
range's first cell, and every cell inside it that cell's protection, by adding a style to the
workbook's list cell by cell. A sheet merged over whole columns took it a minute and a half.
The same styles come out when each distinct (old style, added side) pair is added once and its
index given to every cell that has it, which is what this does. Importing the module is enough.
"""

import copy

from openpyxl.cell.cell import MergedCell
from openpyxl.styles.borders import Border
from openpyxl.styles.cell_style import StyleArray
from openpyxl.worksheet import merge


def _format(self):
    ws = self.ws
    cells = ws._cells
    book = ws.parent

    def cell_at(coord):
        cell = cells.get(coord)
        if cell is None:
            cell = MergedCell(ws, row=coord[0], column=coord[1])
            cells[coord] = cell
        if not cell._style:
            cell._style = StyleArray()
        return cell

    for name in ("top", "left", "right", "bottom"):
        side = getattr(self.start_cell.border, name)
        if side and side.style is None:
            continue
        added = Border(**{name: side})
        index_for = {}
        for coord in getattr(self, name):
            style = cell_at(coord)._style
            old = style.borderId
            if old not in index_for:
                index_for[old] = book._borders.add(book._borders[old] + added)
            style.borderId = index_for[old]

    protection = copy.copy(self.start_cell.protection)
    index = book._protections.add(protection) if protection is not None else None
    for coord in self.cells:
        cell = cell_at(coord)
        if index is not None:
            cell._style.protectionId = index


merge.MergedCellRange.format = _format
