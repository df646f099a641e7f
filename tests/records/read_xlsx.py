#!/usr/bin/python3
"""Prints every sheet of a workbook as JSON, read by openpyxl (not by the writer)."""
import json
import sys

import openpyxl

book = openpyxl.load_workbook(sys.argv[1], read_only=True)
out = {}
for sheet in book.worksheets:
    out[sheet.title] = [[cell for cell in row] for row in sheet.iter_rows(values_only=True)]
json.dump({"sheets": book.sheetnames, "cells": out}, sys.stdout, ensure_ascii=False)
